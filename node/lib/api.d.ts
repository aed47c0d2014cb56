// The promise API of qxsymbols: connect() to a controller's symbol service
// and read and write its tags as plain JavaScript values.
import { EventEmitter } from 'events';

/** A tag's value: basic types as numbers and booleans, 64-bit integers as
 * BigInt, strings, arrays (nested per dimension) and structures or function
 * blocks as plain objects keyed by member name. */
export type TagValue =
  boolean | number | bigint | string | Buffer | TagValue[] | { [member: string]: TagValue };

/** What a write accepts: as TagValue; integers also as Numbers (whole),
 * BigInts also for the smaller integer types, Buffers for the types read as
 * bytes; structures and arrays also in part (an array's elements left out
 * as undefined). */
export type TagInput =
  | boolean
  | number
  | bigint
  | string
  | Buffer
  | undefined
  | TagInput[]
  | { [member: string]: TagInput };

export interface ReconnectOptions {
  /** First wait before reopening, in ms (200). */
  initialDelay?: number;
  /** Longest wait between attempts, in ms (10000). */
  maxDelay?: number;
  /** Growth of the wait after each failed attempt (2). */
  factor?: number;
}

export interface ConnectOptions {
  /** Host name or dotted IPv4 address (127.0.0.1), at most 59 characters. */
  host?: string;
  /** TCP port of the symbol service. */
  port: number;
  /** Reply time-out in ms, 0 to 65535 (0: the library's default, 10000). */
  timeout?: number;
  /** Reopen the workspace in the background after a lost connection. */
  reconnect?: boolean | ReconnectOptions;
  /** How the controller's texts map to characters: 'latin1' (the default:
   * every byte one character, so any stored text round-trips), 'utf8' or
   * 'windows1252'. Text the encoding cannot carry is refused. */
  encoding?: 'latin1' | 'utf8' | 'windows1252';
}

/** A global tag as tags() lists it. */
export interface TagInfo {
  name: string;
  /** The data type's name, for example 'INT', 'STRING[16]', 'MOTOR'. */
  type: string;
  /** Data size in bytes (an array's element). */
  size: number;
  flags: { readOnly: boolean; bitAddress: boolean };
}

export type TypeKind =
  'bool' | 'int' | 'uint' | 'real' | 'string' | 'struct' | 'functionBlock' | 'array' | 'unknown';

/** A plain description of a type. */
export interface TypeInfo {
  name: string;
  kind: TypeKind;
  size: number;
  /** Arrays: elements per dimension. */
  dims?: number[];
  /** Arrays: the declared lower bound of each dimension. */
  lower?: number[];
  /** Arrays: the element type. */
  element?: TypeInfo;
  /** Structures and function blocks: members with their byte offsets. */
  members?: { name: string; offset: number; type: TypeInfo }[];
  /** false when the member offsets could not be learned. */
  layoutKnown?: false;
}

/** One leaf of a layout: a value of a basic type, or an array of them. */
export interface LayoutLeaf {
  /** 'Line.Main.Speed', 'Temps', 'RecipeBook[2].Name'. */
  path: string;
  /** Byte offset within the value described. */
  offset: number;
  /** Bytes of the whole leaf. */
  size: number;
  /** Basic variable type (the QXSymTyVar* constants). */
  tyvar: number;
  /** What it reads as: 1 bool, 2 signed, 3 unsigned, 4 float, 5 text, 6 bytes. */
  kind: number;
  /** Bytes of one value. */
  elementSize: number;
  /** Values in the leaf: 1, or the array's element count. */
  count: number;
  /** Elements and declared lower bound per dimension (empty for one value). */
  dims: number[];
  lower: number[];
}

/** The client core's layout of a tag, member or element. */
export interface Layout {
  path: string;
  typeName: string;
  /** Bytes of the whole value. */
  size: number;
  /** Values over all leaves. */
  valueCount: number;
  functionBlock: boolean;
  /** The path's own dimensions and declared lower bounds, when it is an array. */
  dims: number[];
  lower: number[];
  leaves: LayoutLeaf[];
}

/** One change seen by watch(). */
export interface TagChange {
  name: string;
  value: TagValue;
  /** The value before; undefined on the first read. */
  previous: TagValue | undefined;
}

/** How a subscription polls and when it tells a value. */
export interface SubscribeOptions {
  /** Time between polls in ms, 1 to 86400000 (1000). */
  interval?: number;
  /** Tell every value at least this often, in ms (0: never, the default). */
  heartbeat?: number;
  /** Absolute deadband of numbers (0: any change), or one per name (0 for
   * a name left out). */
  deadband?: number | Record<string, number>;
}

/** How far a value told by a subscription can be trusted: read in this
 * poll, the last one told while the controller does not answer, or not
 * readable at all. */
export type ValueStatus = 'good' | 'stale' | 'bad';

/** One value told by subscribe(). */
export interface SubscriptionChange {
  /** The leaf value's path: 'I', 'Cell.Levels[2]', 'Grid[1,3]'. */
  name: string;
  /** undefined when the status is 'bad'. */
  value: TagValue | undefined;
  /** The value told before; undefined the first time. */
  previous: TagValue | undefined;
  /** When the poll's reply arrived (to the ms). */
  timestamp: Date;
  /** Microseconds within that ms, 0 to 999. */
  micros: number;
  /** The same time in microseconds since the Unix epoch. */
  timestampUs: bigint;
  status: ValueStatus;
  /** Why the value is stale or bad; null when good. */
  error: QXSymError | null;
}

/** A completed poll of a subscription. */
export interface CycleEvent {
  /** How long the poll took, in ms. */
  duration: number;
  timestamp: Date;
  /** 'good' when the controller answered. */
  status: ValueStatus;
}

/** A poll that ended after the next tick. */
export interface OverrunEvent {
  /** From the first missed tick to the poll's end, in ms. */
  late: number;
  /** Ticks skipped. */
  missed: number;
  timestamp: Date;
}

/** The controller's program was changed while running. */
export interface OnlineChangeEvent {
  timestamp: Date;
}

export class Group {
  private constructor();
  readonly names: string[];
  /** Every member's value in one exchange. */
  read(): Promise<Record<string, TagValue>>;
  /** Writes every member in one exchange; values must name each member. */
  write(values: Record<string, TagInput>): Promise<void>;
  /** Removes the group at the controller. */
  close(): Promise<void>;
}

/** How a listing beyond one reply of the controller is gathered. */
export interface ListOptions {
  /** Connections to the controller used at once, 1 to 8 (default 1): the
   * workspace's own and, for the listing's duration, as many more as the
   * controller accepts. */
  connections?: number;
}

export class Workspace extends EventEmitter {
  private constructor();
  /** The service's version, 'major.minor.revision.build'. */
  readonly version: string;
  /** false for a 3.0.0.x service (symResOkServerNotFullSupport). */
  readonly fullSupport: boolean;
  /** false while reconnecting and after close(). */
  readonly connected: boolean;
  /** Global tags matching a glob filter ('*', '?'; empty: all), complete
   * also beyond what one reply of the controller holds. */
  tags(filter?: string, options?: ListOptions): Promise<TagInfo[]>;
  /** Names of the global tags matching filter, sorted: one exchange per tag
   * instead of five. onBatch receives each reply's names as they arrive. */
  tagNames(
    filter?: string,
    onBatch?: ((names: string[]) => void) | null,
    options?: ListOptions,
  ): Promise<string[]>;
  /** The description of a tag and those of the named attributes (at most
   * 32) it has; attributes cannot be listed, only asked for by name. */
  texts(
    name: string,
    attributeNames?: string[],
  ): Promise<{ description: string; attributes: Record<string, string> }>;
  read(name: string): Promise<TagValue>;
  write(name: string, value: TagInput): Promise<void>;
  type(name: string): Promise<TypeInfo>;
  /** The client core's flat layout: size, number of values and leaves. */
  layout(name: string): Promise<Layout>;
  /** A value typed by a person, read and checked by the client core's rules
   * as a write would be (nothing is written): a single value is the text
   * itself (a literal such as 16#FF, TRUE, 1.5e3; a STRING's text as it
   * is), a structure or array JSON whose strings may be such literals.
   * Resolves with the value as understood, ready for write(). */
  parse(name: string, text: string): Promise<TagInput>;
  group(names: string[]): Promise<Group>;
  /** Values of the tags and of their members and elements, polled by the
   * client core with one group exchange per interval; leaving the loop
   * unsubscribes, closing the workspace ends it. */
  subscribe(
    names: string[],
    options?: SubscribeOptions,
  ): AsyncGenerator<SubscriptionChange, void, undefined>;
  /** Changes of the tags, polled every interval ms (1000): subscribe()
   * without times and status. */
  watch(
    names: string[],
    options?: { interval?: number },
  ): AsyncGenerator<TagChange, void, undefined>;
  /** Closes the workspace after the calls made before. */
  close(): Promise<void>;

  on(event: 'disconnect', listener: (error: QXSymError) => void): this;
  on(event: 'reconnect' | 'close', listener: () => void): this;
  on(event: 'cycle', listener: (cycle: CycleEvent) => void): this;
  on(event: 'overrun', listener: (overrun: OverrunEvent) => void): this;
  on(event: 'change', listener: (change: OnlineChangeEvent) => void): this;
  once(event: 'disconnect', listener: (error: QXSymError) => void): this;
  once(event: 'reconnect' | 'close', listener: () => void): this;
  once(event: 'cycle', listener: (cycle: CycleEvent) => void): this;
  once(event: 'overrun', listener: (overrun: OverrunEvent) => void): this;
  once(event: 'change', listener: (change: OnlineChangeEvent) => void): this;
  off(event: 'disconnect', listener: (error: QXSymError) => void): this;
  off(event: 'reconnect' | 'close', listener: () => void): this;
  off(event: 'cycle', listener: (cycle: CycleEvent) => void): this;
  off(event: 'overrun', listener: (overrun: OverrunEvent) => void): this;
  off(event: 'change', listener: (change: OnlineChangeEvent) => void): this;
}

/** An error of the library or the controller. */
export class QXSymError extends Error {
  constructor(code: number, detail?: string);
  /** The result code, for example 13. */
  readonly code: number;
  /** Its name, for example 'symResTimeoutError'. */
  readonly result: string;
  /** What to do about it. */
  readonly advice: string;
  /** The core's function that answered it, when one did. */
  readonly call?: string;
}

/** Result codes by name. */
export const codes: Readonly<Record<string, number>>;
/** The name of a result code. */
export function resultName(code: number): string;

/** Opens a workspace on the symbol service at host:port. */
export function connect(options: ConnectOptions): Promise<Workspace>;
