#include "ResultText.h"

namespace qxsym::cli {
namespace {

struct Entry {
  const char* name;
  const char* advice;
};

// Indexed by code, 0 to 49.
constexpr Entry kEntries[] = {
    {"symResOk", "success"},
    {"symResNotInited", "the library is not started (an internal fault of this tool)"},
    {"symResSocketInitError", "the socket layer could not be started; check the system"},
    {"symResSymbolTableLoadError",
     "the controller could not load its symbol table; check the application on the controller"},
    {"symResInvalidHandle",
     "the object is no longer valid at the controller; run the command again"},
    {"symResInvalidParameter", "a value or argument is not acceptable; check it and its range"},
    {"symResSymbolNotFound",
     "no tag of that name; list the tags with 'qxsym ls' and check the spelling and the path"},
    {"symResAttributeNotFound", "the tag has no attribute of that name"},
    {"symResInvalidAddress",
     "the controller could not be reached; check --host and --port (QXSYM_HOST, QXSYM_PORT) and "
     "that the controller or qxsym-sim is running"},
    {"symResMemReadError", "the controller could not read the tag's memory"},
    {"symResInvalidBuffer",
     "a value is larger than expected; check the tag's type with 'qxsym type'"},
    {"symResUnknownTagSize", "the controller does not know the size of the tag"},
    {"symResMemWriteError", "the controller could not write the tag's memory"},
    {"symResTimeoutError",
     "the controller did not answer in time; check that it runs and is reachable, or raise "
     "--timeout"},
    {"symResInvalidVARIANT", "the value could not be converted"},
    {"symResInvalidArrayIndex",
     "the index is outside the array's bounds; see the dimensions with 'qxsym type TAG'"},
    {"symResReadOnlyTag", "the tag is read-only and cannot be written"},
    {"symResConnectionLost", "the connection to the controller broke; check it and run again"},
    {"symResNotOk",
     "the controller's answer could not be used; run again, and check the controller"},
    {"symResInvalidAttributeValue", "the attribute's value is not valid"},
    {"symResBitCommandRequired", "the tag lives at a bit address; write the tag itself"},
    {"symResInvalidTagSize", "the value's size does not match the tag; check its type"},
    {"symResNotImplemented", "this source of symbols does not offer the operation"},
    {"symResVersionNotSupported", "the controller does not support this version"},
    {"symResCommandNotSupported", "the controller does not support this command"},
    {"symResAddressMismatch32vs64", "the tag's address does not fit this build's address width"},
    {"symResMemoryAllocError", "not enough memory; free memory or ask for less at once"},
    {"symResInvalidArea", "the memory area is not valid at the controller"},
    {"symResInvalidWorkspace", "the controller no longer knows this connection; run again"},
    {"symResMaxReached",
     "a limit of the controller is reached; close other clients or ask for fewer tags at once"},
    {"symResBufferOverflow", "the answer is too large for one reply; narrow the request"},
    {"symResUnkownCommand", "the controller does not know this command; check its version"},
    {"symResShutdownInProgress", "the controller's symbol service is shutting down; try later"},
    {"symResInvalidComm", "the controller refused the communication; check its set-up"},
    {"symResServerNotCompatible",
     "the controller's symbol service has a major version other than 3; this tool cannot use it"},
    {"symResOkServerNotFullSupport", "connected, but the service (3.0.0) lacks some functions"},
    {"symResFileAlreadyExists", "the file exists; pass --force to replace it"},
    {"symResCannotWriteFile", "the file could not be written in full; check space and permissions"},
    {"symResCannotOpenFile", "the file could not be opened; check the path and permissions"},
    {"symResCannotReadFile", "the file could not be read; check the path and permissions"},
    {"symResSegmentationError", "a long reply broke off; check the connection and run again"},
    {"symResHandleAlreadyExists", "the tag is given twice"},
    {"symResInvalidGroupSize", "the controller's group answer had the wrong size; run again"},
    {"symResGroupMustBeRead", "the group must be read first (an internal fault of this tool)"},
    {"symResGroupConfigError", "the controller refused the group; read fewer tags at once"},
    {"symResInvalidGroupTag", "the controller refused a tag in the group"},
    {"symResGroupIsEmpty", "nothing to read"},
    {"symResInvalidTagType", "the tag's type does not allow this operation"},
    {"symResSocketError",
     "the request could not be sent; check the network and that the controller still runs"},
    {"symResProtocolError", "the controller's reply did not fit the request; run again"},
};

}  // namespace

std::string ResultName(int code) {
  if (code >= 0 && code < static_cast<int>(sizeof kEntries / sizeof kEntries[0])) {
    return kEntries[code].name;
  }
  return "result " + std::to_string(code);
}

const char* ResultAdvice(int code) {
  if (code >= 0 && code < static_cast<int>(sizeof kEntries / sizeof kEntries[0])) {
    return kEntries[code].advice;
  }
  return "an unknown result code; check the controller and the library's version";
}

}  // namespace qxsym::cli
