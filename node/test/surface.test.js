'use strict';
// The module's surface without a controller: constants, argument checks and
// their messages, the address class, the proxy methods, and null pointers
// reaching the library.
const test = require('node:test');
const assert = require('node:assert');
const { m } = require('./support');

// Function name -> number of JavaScript arguments.
const ARITY = {
  QXSym_Init: 0,
  QXSym_Shutdown: 0,
  QXSym_IsInitOk: 0,
  QXSym_OpenWorkspace: 2,
  QXSym_GetServerVersion: 5,
  QXSym_CloseWorkspace: 1,
  QXSym_IsValidWorkspace: 1,
  QXSym_GetSymbolTable: 3,
  QXSym_GetGlobalTag: 2,
  QXSym_CloseTag: 1,
  QXSym_GetGlobalTags: 3,
  QXSym_FreeTagList: 1,
  QXSym_GetGlobalTagsNum: 2,
  QXSym_FillGlobalTagList: 3,
  QXSym_QueryGlobalTags: 4,
  QXSym_QueryGlobalTagsNum: 3,
  QXSym_QueryFillGlobalTagList: 4,
  QXSym_GetGlobalTagsMap: 1,
  QXSym_FreeTagMap: 1,
  QXSym_GetTagFromMap: 2,
  QXSym_GetCodeId: 5,
  QXSym_GetTagAttribute: 3,
  QXSym_GetTagName: 2,
  QXSym_GetTagDataType: 2,
  QXSym_GetTagDataTypeVar: 2,
  QXSym_GetTagAddress: 2,
  QXSym_GetTagAddressBitOffset: 3,
  QXSym_GetTagArrayAddress: 5,
  QXSym_GetTagArrayAddressBitOffset: 6,
  QXSym_GetTagDataSize: 1,
  QXSym_GetTagDataFullSize: 1,
  QXSym_IsTagReadOnly: 2,
  QXSym_IsTagBitAddress: 2,
  QXSym_GetTagDescr: 2,
  QXSym_GetTagDims: 4,
  QXSym_GetTagValue_Ptr: 3,
  QXSym_SetTagValue_Ptr: 3,
  QXSym_GetTagArrayValue_Ptr: 6,
  QXSym_SetTagArrayValue_Ptr: 6,
  QXSym_GetTagRawValue_Ptr: 3,
  QXSym_SetTagRawValue_Ptr: 3,
  QXSym_GetTagType: 2,
  QXSym_CloseType: 1,
  QXSym_TypeIsBasic: 2,
  QXSym_TypeIsComplex: 2,
  QXSym_TypeIsString: 2,
  QXSym_TypeIsArray: 2,
  QXSym_TypeIsStruct: 2,
  QXSym_TypeIsFunctionBlock: 2,
  QXSym_TypeIsNumeric: 2,
  QXSym_TypeIsSigned: 2,
  QXSym_TypeIsInteger: 2,
  QXSym_TypeGetSize: 2,
  QXSym_TypeGetName: 2,
  QXSym_TypeGetNumChildren: 2,
  QXSym_TypeGetChild: 3,
  QXSym_TypeGetChildByName: 3,
  QXSym_TypeGetChildName: 3,
  QXSym_TypeGetArrayNumDimensions: 2,
  QXSym_TypeGetArrayDimension: 3,
  QXSym_TypeGetArrayDimensions: 3,
  QXSym_TypeGetProperties: 2,
  QXSym_CreateGroup: 2,
  QXSym_DeleteGroup: 1,
  QXSym_AddTagToGroup: 2,
  QXSym_RemoveTagFromGroup: 2,
  QXSym_GetGroupInfo: 3,
  QXSym_ReadGroup: 1,
  QXSym_WriteGroup: 1,
  QXSym_GetTagValueFromGroup_Ptr: 4,
  QXSym_SetTagValueIntoGroup_Ptr: 4,
  GetTagValue_double: 1,
  GetTagValue_bool: 1,
  GetTagValue_string: 1,
  getTagDataType: 1,
  SetTagValue_double: 2,
  SetTagValue_bool: 2,
  SetTagValue_string: 2,
};

const RESULTS = [
  'symResOk',
  'symResNotInited',
  'symResSocketInitError',
  'symResSymbolTableLoadError',
  'symResInvalidHandle',
  'symResInvalidParameter',
  'symResSymbolNotFound',
  'symResAttributeNotFound',
  'symResInvalidAddress',
  'symResMemReadError',
  'symResInvalidBuffer',
  'symResUnknownTagSize',
  'symResMemWriteError',
  'symResTimeoutError',
  'symResInvalidVARIANT',
  'symResInvalidArrayIndex',
  'symResReadOnlyTag',
  'symResConnectionLost',
  'symResNotOk',
  'symResInvalidAttributeValue',
  'symResBitCommandRequired',
  'symResInvalidTagSize',
  'symResNotImplemented',
  'symResVersionNotSupported',
  'symResCommandNotSupported',
  'symResAddressMismatch32vs64',
  'symResMemoryAllocError',
  'symResInvalidArea',
  'symResInvalidWorkspace',
  'symResMaxReached',
  'symResBufferOverflow',
  'symResUnkownCommand',
  'symResShutdownInProgress',
  'symResInvalidComm',
  'symResServerNotCompatible',
  'symResOkServerNotFullSupport',
  'symResFileAlreadyExists',
  'symResCannotWriteFile',
  'symResCannotOpenFile',
  'symResCannotReadFile',
  'symResSegmentationError',
  'symResHandleAlreadyExists',
  'symResInvalidGroupSize',
  'symResGroupMustBeRead',
  'symResGroupConfigError',
  'symResInvalidGroupTag',
  'symResGroupIsEmpty',
  'symResInvalidTagType',
  'symResSocketError',
  'symResProtocolError',
];

const CONSTANTS = {
  FALSE: 0,
  TRUE: 1,
  symProtGDB_TCP: 0,
  symProtDirectAccess: 2,
  QXSYMBOLS_VERSION_MAJOR: 3,
  QXSYMBOLS_VERSION_MINOR: 0,
  QXSYMBOLS_VERSION_REVISION: 1,
  QXSYMBOLS_VERSION_BUILD: 1,
  QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR: 1,
  QXSYM_MAX_STRING: 260,
  QXSymTypeIsBasic: 1,
  QXSymTypeIsComplex: 2,
  QXSymTypeIsString: 4,
  QXSymTypeIsArray: 8,
  QXSymTypeIsStruct: 16,
  QXSymTypeIsFunctionBlock: 32,
  QXSymTypeIsNumeric: 64,
  QXSymTypeIsSigned: 128,
  QXSymTypeIsInteger: 256,
  QXSymTyVarNull: 0,
  QXSymTyVarBool: 1,
  QXSymTyVarSInt: 2,
  QXSymTyVarUSInt: 3,
  QXSymTyVarByte: 4,
  QXSymTyVarInt: 5,
  QXSymTyVarUInt: 6,
  QXSymTyVarWord: 7,
  QXSymTyVarDInt: 9,
  QXSymTyVarUDInt: 10,
  QXSymTyVarDWord: 11,
  QXSymTyVarLInt: 12,
  QXSymTyVarULInt: 13,
  QXSymTyVarLWord: 14,
  QXSymTyVarReal: 15,
  QXSymTyVarLReal: 16,
  QXSymTyVarString: 17,
  QXSymTyVarUserDef: 18,
  QXSymTyVarPointer: 20,
};
RESULTS.forEach((name, value) => {
  CONSTANTS[name] = value;
});

test('the module has exactly the listed functions, constants and the address class', () => {
  const expected = [...Object.keys(CONSTANTS), ...Object.keys(ARITY), 'QXSymServerAddress'];
  assert.deepStrictEqual(Object.keys(m).sort(), expected.sort());
  for (const [name, value] of Object.entries(CONSTANTS)) assert.strictEqual(m[name], value, name);
  assert.strictEqual(m.symResUnkownCommand, 31);
});

test('constants are read-only and say so by name', () => {
  for (const [name, value] of Object.entries(CONSTANTS)) {
    assert.throws(
      () => {
        m[name] = value + 3;
      },
      { name: 'Error', message: `Tried to write read-only variable: ${name}.` },
    );
    assert.strictEqual(m[name], value, name);
  }
  assert.throws(() => delete m.symResOk); // not configurable either
});

test('every function checks its argument count before anything else', () => {
  for (const [name, arity] of Object.entries(ARITY)) {
    const message = `Illegal number of arguments for _wrap_${name}.`;
    assert.throws(() => m[name](...new Array(arity + 1).fill('x')), { message }, name);
    if (arity > 0) assert.throws(() => m[name](), { message }, name);
  }
});

test('the first argument that does not convert is named with its C type', () => {
  const cases = [
    [
      () => m.QXSym_CloseType('7'),
      "in method 'QXSym_CloseType', argument 1 of type 'QXSymTypeHandle'",
    ],
    [
      () => m.QXSym_TypeGetChild(1, -1, null),
      "in method 'QXSym_TypeGetChild', argument 2 of type 'uint32_t'",
    ],
    [
      () => m.QXSym_CloseWorkspace(null),
      "in method 'QXSym_CloseWorkspace', argument 1 of type 'QXSymWorkspaceHandle'",
    ],
    [
      () => m.QXSym_AddTagToGroup(1, 2n),
      "in method 'QXSym_AddTagToGroup', argument 2 of type 'QXSymTagHandle'",
    ],
    [
      () => m.QXSym_FreeTagMap({}),
      "in method 'QXSym_FreeTagMap', argument 1 of type 'QXSymTagMapHandle'",
    ],
    [
      () => m.QXSym_OpenWorkspace(256, null),
      "in method 'QXSym_OpenWorkspace', argument 1 of type 'uint8_t'",
    ],
    [
      () => m.QXSym_OpenWorkspace(0, {}),
      "in method 'QXSym_OpenWorkspace', argument 2 of type 'QXSymServerAddress const *'",
    ],
    [
      () => m.QXSym_OpenWorkspace(0, undefined),
      "in method 'QXSym_OpenWorkspace', argument 2 of type 'QXSymServerAddress const *'",
    ],
    [
      () => m.QXSym_GetSymbolTable(1, 'f', -1),
      "in method 'QXSym_GetSymbolTable', argument 3 of type 'bool_t'",
    ],
    [
      () => m.QXSym_GetSymbolTable(1, 'f', true),
      "in method 'QXSym_GetSymbolTable', argument 3 of type 'bool_t'",
    ],
    [
      () => m.QXSym_GetGlobalTag(1, null),
      "in method 'QXSym_GetGlobalTag', argument 2 of type 'TCHAR const *'",
    ],
    [() => m.QXSym_GetTagName(1, 5), "in method 'QXSym_GetTagName', argument 2 of type 'TCHAR *'"],
    [
      () => m.QXSym_GetCodeId(1, null, 0, 65536, 0),
      "in method 'QXSym_GetCodeId', argument 4 of type 'uint16_t'",
    ],
    [
      () => m.QXSym_GetCodeId(1, null, 0, 0, -1),
      "in method 'QXSym_GetCodeId', argument 5 of type 'uint16_t'",
    ],
    [
      () => m.QXSym_TypeGetArrayDimensions(1, null, 256),
      "in method 'QXSym_TypeGetArrayDimensions', argument 3 of type 'uint8_t'",
    ],
    // Pointers: nothing but null converts, not even an address object.
    [
      () => m.QXSym_GetServerVersion(1, null, null, 0, null),
      "in method 'QXSym_GetServerVersion', argument 4 of type 'uint8_t *'",
    ],
    [
      () => m.QXSym_GetTagValue_Ptr(1, new m.QXSymServerAddress(), 4),
      "in method 'QXSym_GetTagValue_Ptr', argument 2 of type 'void *'",
    ],
    [
      () => m.QXSym_SetTagValue_Ptr(1, Buffer.alloc(4), 4),
      "in method 'QXSym_SetTagValue_Ptr', argument 2 of type 'void const *'",
    ],
    [
      () => m.QXSym_GetGlobalTags(1, undefined, null),
      "in method 'QXSym_GetGlobalTags', argument 2 of type 'QXSymTagHandle **'",
    ],
    [
      () => m.QXSym_FreeTagList([1, 2]),
      "in method 'QXSym_FreeTagList', argument 1 of type 'QXSymTagHandle *'",
    ],
    [
      () => m.QXSym_GetTagAddress(1, 0),
      "in method 'QXSym_GetTagAddress', argument 2 of type 'qxsym_addr_t *'",
    ],
    [
      () => m.QXSym_GetTagDataTypeVar(1, {}),
      "in method 'QXSym_GetTagDataTypeVar', argument 2 of type 'QXSymTyVar *'",
    ],
    [
      () => m.QXSym_IsTagReadOnly(1, false),
      "in method 'QXSym_IsTagReadOnly', argument 2 of type 'bool_t *'",
    ],
    [
      () => m.QXSym_CreateGroup(1, 'g'),
      "in method 'QXSym_CreateGroup', argument 2 of type 'QXSymGroupHandle *'",
    ],
    [
      () => m.QXSym_TypeGetChild(1, 0, 1),
      "in method 'QXSym_TypeGetChild', argument 3 of type 'QXSymTypeHandle *'",
    ],
    [
      () => m.QXSym_GetGlobalTagsNum(1, 1),
      "in method 'QXSym_GetGlobalTagsNum', argument 2 of type 'uint32_t *'",
    ],
    // Convenience functions.
    [
      () => m.GetTagValue_double('1'),
      "in method 'GetTagValue_double', argument 1 of type 'QXSymTagHandle'",
    ],
    [() => m.SetTagValue_bool(1, 1), "in method 'SetTagValue_bool', argument 2 of type 'bool'"],
    [
      () => m.SetTagValue_double(1, '1'),
      "in method 'SetTagValue_double', argument 2 of type 'double'",
    ],
    [
      () => m.SetTagValue_string(1, null),
      "in method 'SetTagValue_string', argument 2 of type 'char *'",
    ],
  ];
  for (const [call, message] of cases) assert.throws(call, { name: 'Error', message });
});

test('numbers convert by cutting toward zero within the C type range', () => {
  // Accepted at the edges: the library is reached and answers symResNotInited.
  assert.strictEqual(m.QXSym_IsInitOk(), m.symResNotInited);
  const accepted = [
    () => m.QXSym_TypeGetChild(1, -0.9, null), // cut to 0
    () => m.QXSym_TypeGetChild(1, 2 ** 40, null), // saturates, not refused
    () => m.QXSym_TypeGetChild(1, Infinity, null),
    () => m.QXSym_TypeGetChild(1, NaN, null),
    () => m.QXSym_OpenWorkspace(255.9, null)[0],
    () => m.QXSym_CloseType(2 ** 32 + 7), // handles are cut to 32 bits
    () => m.QXSym_CloseType(-Infinity),
  ];
  for (const call of accepted) assert.strictEqual(call(), m.symResNotInited);
  assert.strictEqual(m.QXSym_GetCodeId(1, null, 255, 65535.5, 0), m.symResNotImplemented);
  assert.throws(() => m.QXSym_TypeGetChild(1, -1, null), /argument 2 of type 'uint32_t'/);
  assert.throws(() => m.QXSym_TypeGetChild(1, -Infinity, null), /argument 2 of type 'uint32_t'/);
});

test('null pointers reach the library, which answers for them', () => {
  assert.strictEqual(m.QXSym_Init(), m.symResOk);
  try {
    assert.strictEqual(m.QXSym_TypeGetSize(12345, null), m.symResInvalidParameter);
    assert.deepStrictEqual(m.QXSym_OpenWorkspace(0, null), [m.symResInvalidAddress, 0]);
    assert.strictEqual(
      m.QXSym_GetServerVersion(7, null, null, null, null),
      m.symResInvalidParameter,
    );
    assert.strictEqual(m.QXSym_FreeTagList(null), m.symResInvalidParameter);
    assert.strictEqual(m.QXSym_GetTagValue_Ptr(7, null, 4), m.symResInvalidParameter);
    assert.deepStrictEqual(m.QXSym_GetGlobalTagsMap(7), [m.symResNotImplemented, 0]);
    // A handle that is not open: the pair carries the library's verdict.
    assert.deepStrictEqual(m.QXSym_GetGlobalTag(7, 'Flag'), [m.symResInvalidHandle, 0]);
    assert.deepStrictEqual(m.QXSym_GetTagName(7, 'buffer'), [m.symResInvalidHandle, 7]);
  } finally {
    assert.strictEqual(m.QXSym_Shutdown(), m.symResOk);
  }
});

test('QXSymServerAddress: fields, limits and messages', () => {
  const a = new m.QXSymServerAddress();
  assert.deepStrictEqual([a.protocol, a.ip, a.port, a.timeout], [0, '', 0, 0]);
  assert.throws(() => new m.QXSymServerAddress(1), {
    message: 'Illegal number of arguments for _wrap_new_QXSymServerAddress.',
  });
  assert.throws(() => m.QXSymServerAddress(), Error);

  a.ip = 'h'.repeat(59);
  assert.strictEqual(a.ip, 'h'.repeat(59));
  const ipError = {
    message: "in method 'QXSymServerAddress_ip_set', argument 2 of type 'char [60]'",
  };
  assert.throws(() => {
    a.ip = 'x'.repeat(60);
  }, ipError);
  assert.throws(() => {
    a.ip = 'é'.repeat(30);
  }, ipError); // 60 UTF-8 bytes plus the zero
  assert.throws(() => {
    a.ip = 42;
  }, ipError);
  assert.strictEqual(a.ip, 'h'.repeat(59), 'a refused value leaves the field alone');
  a.ip = 'é'.repeat(29) + 'a';
  assert.strictEqual(a.ip, 'é'.repeat(29) + 'a');
  a.ip = 'ab'; // the rest of the field is zero-filled, so nothing old shows through
  assert.strictEqual(a.ip, 'ab');

  for (const field of ['port', 'timeout']) {
    const error = {
      message: `in method 'QXSymServerAddress_${field}_set', argument 2 of type 'uint16_t'`,
    };
    a[field] = 65535.9;
    assert.strictEqual(a[field], 65535);
    for (const bad of [65536, -1, '80', null])
      assert.throws(() => {
        a[field] = bad;
      }, error);
    assert.strictEqual(a[field], 65535);
    a[field] = -0.5;
    assert.strictEqual(a[field], 0);
  }
  a.protocol = 2 ** 32 + 2;
  assert.strictEqual(a.protocol, 2);
  a.protocol = -1;
  assert.strictEqual(a.protocol, -1);
  assert.throws(
    () => {
      a.protocol = '0';
    },
    { message: "in method 'QXSymServerAddress_protocol_set', argument 2 of type 'QXSymProtocol'" },
  );

  // The accessors refuse any object that is not an address.
  const proto = Object.getPrototypeOf(m.QXSymServerAddress.prototype);
  for (const field of ['protocol', 'ip', 'port', 'timeout']) {
    const { get, set } = Object.getOwnPropertyDescriptor(proto, field);
    for (const self of [{}, Object.create(m.QXSymServerAddress.prototype), 5, undefined]) {
      assert.throws(() => get.call(self), {
        message: `in method 'QXSymServerAddress_${field}_get', argument 1 of type '_QXSymServerAddress *'`,
      });
      assert.throws(() => set.call(self, 1), {
        message: `in method 'QXSymServerAddress_${field}_set', argument 1 of type '_QXSymServerAddress *'`,
      });
    }
  }
  const chain = [];
  for (let p = Object.getPrototypeOf(a); p !== Object.prototype; p = Object.getPrototypeOf(p)) {
    chain.push(p.constructor.name);
  }
  assert.deepStrictEqual(chain, ['QXSymServerAddress', '_exports_QXSymServerAddress', 'SwigProxy']);
});

test('equals and getCPtr compare and show the record pointer', () => {
  const a = new m.QXSymServerAddress();
  const b = new m.QXSymServerAddress();
  assert.strictEqual(a.equals(a), true);
  assert.strictEqual(a.equals(b), false);
  assert.strictEqual(typeof a.getCPtr(), 'number');
  assert.notStrictEqual(a.getCPtr(), b.getCPtr());
  assert.strictEqual(a.getCPtr(), a.getCPtr());
  assert.throws(() => a.equals(), { message: 'Illegal number of arguments for equals.' });
  assert.throws(() => a.equals(a, b), { message: 'Illegal number of arguments for equals.' });
  assert.throws(() => a.equals.call({}, a), {
    message: "Could not get pointer from 'this' object for equals.",
  });
  assert.throws(() => a.equals({}), { message: "in method 'equals', argument 1 of type 'void *'" });
  assert.throws(() => a.getCPtr.call(null), {
    message: "in method 'getCPtr', argument 1 of type 'void *'",
  });
});

test('no JavaScript value crashes a function', () => {
  const hostile = {
    valueOf() {
      throw new Error('valueOf');
    },
    toString() {
      throw new Error('toString');
    },
  };
  const values = [
    undefined,
    null,
    true,
    0,
    -0,
    -1,
    1.5,
    2 ** 53,
    NaN,
    -Infinity,
    1n,
    '',
    'é\0x',
    'y'.repeat(70000),
    Symbol('s'),
    {},
    [],
    [1],
    () => 1,
    Buffer.alloc(8),
    new Proxy({}, {}),
    hostile,
    new m.QXSymServerAddress(),
  ];
  let calls = 0;
  for (const [name, arity] of Object.entries(ARITY)) {
    if (name === 'QXSym_Init' || arity === 0) continue;
    for (let pos = 0; pos < arity; ++pos) {
      for (const v of values) {
        const args = new Array(arity).fill(0);
        args[pos] = v;
        try {
          m[name](...args);
        } catch (e) {
          assert.ok(e instanceof Error || typeof e === 'string', `${name}: ${e}`);
        }
        ++calls;
      }
    }
  }
  assert.ok(calls > 3000);
});

test('index.d.ts declares exactly the module surface', () => {
  const fs = require('fs');
  const path = require('path');
  const declared = fs.readFileSync(path.join(__dirname, '..', 'index.d.ts'), 'utf8');
  const names = [...declared.matchAll(/^export (?:const|function|class) (\w+)/gm)].map((x) => x[1]);
  assert.deepStrictEqual(names.sort(), Object.keys(m).sort());
});
