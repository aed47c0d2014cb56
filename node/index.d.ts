// Type declarations of the module "QXSymbols" (the add-on QXSymbols.node).
//
// Functions return the library's result code (a QXSymResult number; 0 is
// success) or, where the C function has one output parameter, the pair
// [result, value]. Pointer arguments accept only null: the library then
// answers for the missing pointer. Wrong argument counts or kinds throw an
// Error; the convenience functions throw a string "ERROR: <function>
// returned <code>" on a failing library call.

/** A handle: a 32-bit number that stands for a library object; 0 is never valid. */
export type QXSymHandle = number;

/** The server address record that QXSym_OpenWorkspace reads. */
export class QXSymServerAddress {
  /** A zero-filled record. */
  constructor();
  /** How the workspace reaches the symbols (symProtGDB_TCP, symProtDirectAccess); cut to 32 bits. */
  protocol: number;
  /** Host name or dotted IPv4 address; at most 59 UTF-8 bytes. */
  ip: string;
  /** TCP port, 0 to 65535 (fractions are cut). */
  port: number;
  /** Reply time-out in ms, 0 to 65535; 0 keeps the channel's default. */
  timeout: number;
  /** True when other wraps the same record. */
  equals(other: QXSymServerAddress): boolean;
  /** The record's address as a number. */
  getCPtr(): number;
}

export const FALSE: 0;
export const TRUE: 1;
export const symProtGDB_TCP: 0;
export const symProtDirectAccess: 2;
export const QXSYMBOLS_VERSION_MAJOR: 3;
export const QXSYMBOLS_VERSION_MINOR: 0;
export const QXSYMBOLS_VERSION_REVISION: 1;
export const QXSYMBOLS_VERSION_BUILD: 1;
export const QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR: 1;
export const QXSYM_MAX_STRING: 260;
/** Result codes (QXSymResult). */
export const symResOk: 0;
export const symResNotInited: 1;
export const symResSocketInitError: 2;
export const symResSymbolTableLoadError: 3;
export const symResInvalidHandle: 4;
export const symResInvalidParameter: 5;
export const symResSymbolNotFound: 6;
export const symResAttributeNotFound: 7;
export const symResInvalidAddress: 8;
export const symResMemReadError: 9;
export const symResInvalidBuffer: 10;
export const symResUnknownTagSize: 11;
export const symResMemWriteError: 12;
export const symResTimeoutError: 13;
export const symResInvalidVARIANT: 14;
export const symResInvalidArrayIndex: 15;
export const symResReadOnlyTag: 16;
export const symResConnectionLost: 17;
export const symResNotOk: 18;
export const symResInvalidAttributeValue: 19;
export const symResBitCommandRequired: 20;
export const symResInvalidTagSize: 21;
export const symResNotImplemented: 22;
export const symResVersionNotSupported: 23;
export const symResCommandNotSupported: 24;
export const symResAddressMismatch32vs64: 25;
export const symResMemoryAllocError: 26;
export const symResInvalidArea: 27;
export const symResInvalidWorkspace: 28;
export const symResMaxReached: 29;
export const symResBufferOverflow: 30;
export const symResUnkownCommand: 31;
export const symResShutdownInProgress: 32;
export const symResInvalidComm: 33;
export const symResServerNotCompatible: 34;
export const symResOkServerNotFullSupport: 35;
export const symResFileAlreadyExists: 36;
export const symResCannotWriteFile: 37;
export const symResCannotOpenFile: 38;
export const symResCannotReadFile: 39;
export const symResSegmentationError: 40;
export const symResHandleAlreadyExists: 41;
export const symResInvalidGroupSize: 42;
export const symResGroupMustBeRead: 43;
export const symResGroupConfigError: 44;
export const symResInvalidGroupTag: 45;
export const symResGroupIsEmpty: 46;
export const symResInvalidTagType: 47;
export const symResSocketError: 48;
export const symResProtocolError: 49;
/** Type property flags (QXSymTypeProperty). */
export const QXSymTypeIsBasic: 1;
export const QXSymTypeIsComplex: 2;
export const QXSymTypeIsString: 4;
export const QXSymTypeIsArray: 8;
export const QXSymTypeIsStruct: 16;
export const QXSymTypeIsFunctionBlock: 32;
export const QXSymTypeIsNumeric: 64;
export const QXSymTypeIsSigned: 128;
export const QXSymTypeIsInteger: 256;
/** Basic variable types (QXSymTyVar). */
export const QXSymTyVarNull: 0;
export const QXSymTyVarBool: 1;
export const QXSymTyVarSInt: 2;
export const QXSymTyVarUSInt: 3;
export const QXSymTyVarByte: 4;
export const QXSymTyVarInt: 5;
export const QXSymTyVarUInt: 6;
export const QXSymTyVarWord: 7;
export const QXSymTyVarDInt: 9;
export const QXSymTyVarUDInt: 10;
export const QXSymTyVarDWord: 11;
export const QXSymTyVarLInt: 12;
export const QXSymTyVarULInt: 13;
export const QXSymTyVarLWord: 14;
export const QXSymTyVarReal: 15;
export const QXSymTyVarLReal: 16;
export const QXSymTyVarString: 17;
export const QXSymTyVarUserDef: 18;
export const QXSymTyVarPointer: 20;

/** Starts the library. */
export function QXSym_Init(): number;
/** Stops the library; open handles become invalid. */
export function QXSym_Shutdown(): number;
/** symResOk while the library is started, else symResNotInited. */
export function QXSym_IsInitOk(): number;
/** Opens a workspace on the source the address names. */
export function QXSym_OpenWorkspace(
  selector: number,
  address: QXSymServerAddress | null,
): [result: number, workspace: QXSymHandle];
export function QXSym_GetServerVersion(
  workspace: QXSymHandle,
  major: null,
  minor: null,
  revision: null,
  build: null,
): number;
export function QXSym_CloseWorkspace(workspace: QXSymHandle): number;
export function QXSym_IsValidWorkspace(workspace: QXSymHandle): number;
/** Downloads the raw symbol table into fileName. */
export function QXSym_GetSymbolTable(
  workspace: QXSymHandle,
  fileName: string,
  overwrite: number,
): number;
/** Finds one global tag by name; close it with QXSym_CloseTag. */
export function QXSym_GetGlobalTag(
  workspace: QXSymHandle,
  name: string,
): [result: number, tag: QXSymHandle];
export function QXSym_CloseTag(tag: QXSymHandle): number;
export function QXSym_GetGlobalTags(workspace: QXSymHandle, tags: null, count: null): number;
export function QXSym_FreeTagList(tags: null): number;
export function QXSym_GetGlobalTagsNum(workspace: QXSymHandle, count: null): number;
export function QXSym_FillGlobalTagList(workspace: QXSymHandle, tags: null, count: number): number;
export function QXSym_QueryGlobalTags(
  workspace: QXSymHandle,
  filter: string,
  tags: null,
  count: null,
): number;
export function QXSym_QueryGlobalTagsNum(
  workspace: QXSymHandle,
  filter: string,
  count: null,
): number;
export function QXSym_QueryFillGlobalTagList(
  workspace: QXSymHandle,
  filter: string,
  tags: null,
  count: number,
): number;
/** Not available: symResNotImplemented. */
export function QXSym_GetGlobalTagsMap(workspace: QXSymHandle): [result: number, map: QXSymHandle];
export function QXSym_FreeTagMap(map: QXSymHandle): number;
export function QXSym_GetTagFromMap(
  map: QXSymHandle,
  name: string,
): [result: number, tag: QXSymHandle];
export function QXSym_GetCodeId(
  workspace: QXSymHandle,
  codeId: null,
  flag: number,
  arg1: number,
  arg2: number,
): number;
/** Text functions: the UTF-8 size of buffer (length + 1) is the capacity; the length the library needs comes back, the text does not. */
export function QXSym_GetTagAttribute(
  tag: QXSymHandle,
  name: string,
  buffer: string,
): [result: number, length: number];
export function QXSym_GetTagName(
  tag: QXSymHandle,
  buffer: string,
): [result: number, length: number];
export function QXSym_GetTagDataType(
  tag: QXSymHandle,
  buffer: string,
): [result: number, length: number];
export function QXSym_GetTagDataTypeVar(tag: QXSymHandle, type: null): number;
export function QXSym_GetTagAddress(tag: QXSymHandle, address: null): number;
export function QXSym_GetTagAddressBitOffset(
  tag: QXSymHandle,
  address: null,
  bitOffset: null,
): number;
export function QXSym_GetTagArrayAddress(
  tag: QXSymHandle,
  index1: number,
  index2: number,
  index3: number,
  address: null,
): number;
export function QXSym_GetTagArrayAddressBitOffset(
  tag: QXSymHandle,
  index1: number,
  index2: number,
  index3: number,
  address: null,
  bitOffset: null,
): number;
export function QXSym_GetTagDataSize(tag: QXSymHandle): [result: number, size: number];
export function QXSym_GetTagDataFullSize(tag: QXSymHandle): [result: number, size: number];
export function QXSym_IsTagReadOnly(tag: QXSymHandle, answer: null): number;
export function QXSym_IsTagBitAddress(tag: QXSymHandle, answer: null): number;
export function QXSym_GetTagDescr(
  tag: QXSymHandle,
  buffer: string,
): [result: number, length: number];
export function QXSym_GetTagDims(tag: QXSymHandle, dim1: null, dim2: null, dim3: null): number;
export function QXSym_GetTagValue_Ptr(tag: QXSymHandle, buffer: null, size: number): number;
export function QXSym_SetTagValue_Ptr(tag: QXSymHandle, data: null, size: number): number;
export function QXSym_GetTagArrayValue_Ptr(
  tag: QXSymHandle,
  index1: number,
  index2: number,
  index3: number,
  buffer: null,
  size: number,
): number;
export function QXSym_SetTagArrayValue_Ptr(
  tag: QXSymHandle,
  index1: number,
  index2: number,
  index3: number,
  data: null,
  size: number,
): number;
export function QXSym_GetTagRawValue_Ptr(tag: QXSymHandle, buffer: null, size: number): number;
export function QXSym_SetTagRawValue_Ptr(tag: QXSymHandle, data: null, size: number): number;
export function QXSym_GetTagType(tag: QXSymHandle, type: null): number;
export function QXSym_CloseType(type: QXSymHandle): number;
export function QXSym_TypeIsBasic(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsComplex(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsString(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsArray(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsStruct(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsFunctionBlock(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsNumeric(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsSigned(type: QXSymHandle, answer: null): number;
export function QXSym_TypeIsInteger(type: QXSymHandle, answer: null): number;
export function QXSym_TypeGetSize(type: QXSymHandle, size: null): number;
export function QXSym_TypeGetName(
  type: QXSymHandle,
  buffer: string,
): [result: number, length: number];
export function QXSym_TypeGetNumChildren(type: QXSymHandle, count: null): number;
export function QXSym_TypeGetChild(type: QXSymHandle, index: number, child: null): number;
export function QXSym_TypeGetChildByName(type: QXSymHandle, name: string, child: null): number;
export function QXSym_TypeGetChildName(
  type: QXSymHandle,
  index: number,
  buffer: string,
): [result: number, length: number];
export function QXSym_TypeGetArrayNumDimensions(type: QXSymHandle, count: null): number;
export function QXSym_TypeGetArrayDimension(type: QXSymHandle, index: number, value: null): number;
export function QXSym_TypeGetArrayDimensions(
  type: QXSymHandle,
  values: null,
  maxCount: number,
): number;
export function QXSym_TypeGetProperties(type: QXSymHandle, flags: null): number;
export function QXSym_CreateGroup(workspace: QXSymHandle, group: null): number;
export function QXSym_DeleteGroup(group: QXSymHandle): number;
export function QXSym_AddTagToGroup(group: QXSymHandle, tag: QXSymHandle): number;
export function QXSym_RemoveTagFromGroup(group: QXSymHandle, tag: QXSymHandle): number;
export function QXSym_GetGroupInfo(group: QXSymHandle, count: null, size: null): number;
export function QXSym_ReadGroup(group: QXSymHandle): number;
export function QXSym_WriteGroup(group: QXSymHandle): number;
export function QXSym_GetTagValueFromGroup_Ptr(
  group: QXSymHandle,
  tag: QXSymHandle,
  buffer: null,
  size: number,
): number;
export function QXSym_SetTagValueIntoGroup_Ptr(
  group: QXSymHandle,
  tag: QXSymHandle,
  data: null,
  size: number,
): number;

/** The tag's value as a boolean: true when any of its first 4 bytes is not 0. */
export function GetTagValue_bool(tag: QXSymHandle): boolean;
/** The tag's value as a number, by its data-type name (INT ... LREAL); 0 for other types. */
export function GetTagValue_double(tag: QXSymHandle): number;
/** The tag's value as text, up to its first zero byte. */
export function GetTagValue_string(tag: QXSymHandle): string;
/** The tag's data-type name (at most 19 characters). */
export function getTagDataType(tag: QXSymHandle): string;
/** Writes 1 or 0 as one byte. */
export function SetTagValue_bool(tag: QXSymHandle, value: boolean): void;
/**
 * Writes x converted by the tag's data-type name (integers cut toward zero,
 * then to the type's width). Other types: throws "ERROR: SetTagValue_double
 * returned 47" (symResInvalidTagType) and sends nothing.
 */
export function SetTagValue_double(tag: QXSymHandle, x: number): void;
/**
 * Writes the text's UTF-8 bytes and zeros up to the tag's data size; a
 * longer text is cut (never inside a character) so the zero always fits.
 */
export function SetTagValue_string(tag: QXSymHandle, text: string): void;

// The promise API (lib/api.js), beside the module's own surface.
export { connect, Workspace, Group, QXSymError, codes, resultName } from './lib/api';
export type {
  ConnectOptions,
  ReconnectOptions,
  TagValue,
  TagInput,
  TagInfo,
  TypeInfo,
  TypeKind,
  TagChange,
  SubscribeOptions,
  SubscriptionChange,
  ValueStatus,
  CycleEvent,
  OverrunEvent,
  OnlineChangeEvent,
} from './lib/api';
