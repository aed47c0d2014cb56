'use strict';
// Result codes of the library by name, and the error the promise API throws.

// In code order; the names are the library's own, spelling included.
const NAMES = [
  'symResOk', 'symResNotInited', 'symResSocketInitError', 'symResSymbolTableLoadError',
  'symResInvalidHandle', 'symResInvalidParameter', 'symResSymbolNotFound',
  'symResAttributeNotFound', 'symResInvalidAddress', 'symResMemReadError', 'symResInvalidBuffer',
  'symResUnknownTagSize', 'symResMemWriteError', 'symResTimeoutError', 'symResInvalidVARIANT',
  'symResInvalidArrayIndex', 'symResReadOnlyTag', 'symResConnectionLost', 'symResNotOk',
  'symResInvalidAttributeValue', 'symResBitCommandRequired', 'symResInvalidTagSize',
  'symResNotImplemented', 'symResVersionNotSupported', 'symResCommandNotSupported',
  'symResAddressMismatch32vs64', 'symResMemoryAllocError', 'symResInvalidArea',
  'symResInvalidWorkspace', 'symResMaxReached', 'symResBufferOverflow', 'symResUnkownCommand',
  'symResShutdownInProgress', 'symResInvalidComm', 'symResServerNotCompatible',
  'symResOkServerNotFullSupport', 'symResFileAlreadyExists', 'symResCannotWriteFile',
  'symResCannotOpenFile', 'symResCannotReadFile', 'symResSegmentationError',
  'symResHandleAlreadyExists', 'symResInvalidGroupSize', 'symResGroupMustBeRead',
  'symResGroupConfigError', 'symResInvalidGroupTag', 'symResGroupIsEmpty',
  'symResInvalidTagType', 'symResSocketError', 'symResProtocolError',
];

const codes = Object.freeze(Object.fromEntries(NAMES.map((name, code) => [name, code])));

function resultName(code) {
  return NAMES[code] || `result ${code}`;
}

// An error of the library or of the controller: code is the result code,
// result its name; the message starts with the name.
class QXSymError extends Error {
  constructor(code, detail) {
    super(`${resultName(code)} (${code})${detail ? ': ' + detail : ''}`);
    this.name = 'QXSymError';
    this.code = code;
    this.result = resultName(code);
  }
}

// Turns a rejection of the add-on ({ code, call }) into a QXSymError.
function fromNative(err, what) {
  if (err instanceof QXSymError) return err;
  if (err && typeof err.code === 'number') {
    const e = new QXSymError(err.code, `${err.call}${what ? ' for ' + what : ''}`);
    e.call = err.call;
    return e;
  }
  return err;
}

module.exports = { QXSymError, codes, resultName, fromNative };
