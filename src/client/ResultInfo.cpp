// Names, messages and advice of the result codes, indexed by code.
#include "ResultInfo.h"

namespace qxsym::client {
namespace {

constexpr ResultInfo kInfos[] = {
    {"symResOk", "success", "nothing to do"},
    {"symResNotInited", "the library is not started",
     "start the library before anything else (an internal fault of the program)"},
    {"symResSocketInitError", "the socket layer could not be started",
     "check the system's network set-up"},
    {"symResSymbolTableLoadError", "the controller could not load its symbol table",
     "check the application on the controller and that it was built with symbols"},
    {"symResInvalidHandle", "the object is no longer valid",
     "open the connection again and repeat the request"},
    {"symResInvalidParameter", "a value or argument is not acceptable",
     "check the value and the range the tag's type takes"},
    {"symResSymbolNotFound", "no tag or member of that name",
     "list the tags and check the spelling, the member path and the indices"},
    {"symResAttributeNotFound", "the tag has no attribute of that name",
     "list the tag's attributes and check the spelling"},
    {"symResInvalidAddress", "the controller could not be reached at that address",
     "check the host and port, and that the controller or simulator is running"},
    {"symResMemReadError", "the controller could not read the tag's memory",
     "check that the application on the controller is loaded and running"},
    {"symResInvalidBuffer", "the value is larger than expected",
     "check the tag's type and size; the controller may have a newer application"},
    {"symResUnknownTagSize", "the controller does not know the size of the tag",
     "check the tag's declaration on the controller"},
    {"symResMemWriteError", "the controller could not write the tag's memory",
     "check that the application on the controller is loaded and running"},
    {"symResTimeoutError", "the controller did not answer in time",
     "check that the controller runs and is reachable, or raise the time-out"},
    {"symResInvalidVARIANT", "the value could not be converted", "give a value of the tag's type"},
    {"symResInvalidArrayIndex", "an index lies outside the array's bounds",
     "use the array's declared bounds, which need not start at 0"},
    {"symResReadOnlyTag", "the tag is read-only", "write another tag, or make it writable"},
    {"symResConnectionLost", "the connection to the controller broke",
     "check the network and the controller, then connect again"},
    {"symResNotOk", "the operation failed and the controller gave no reason",
     "repeat the request, and check the controller"},
    {"symResInvalidAttributeValue", "the attribute's value is not valid",
     "check the attribute's declaration on the controller"},
    {"symResBitCommandRequired", "the tag lives at a bit address",
     "write the tag itself, not its containing word"},
    {"symResInvalidTagSize", "the value's size does not match the tag's",
     "check the tag's type; the controller may have a newer application"},
    {"symResNotImplemented", "this source of symbols does not offer the operation",
     "use a connection to a controller that offers it"},
    {"symResVersionNotSupported", "the controller does not support this version",
     "check the versions of the controller and of the library"},
    {"symResCommandNotSupported", "the controller does not support this command",
     "check the versions of the controller and of the library"},
    {"symResAddressMismatch32vs64", "the tag's address does not fit this build's address width",
     "use a 64-bit build of the library"},
    {"symResMemoryAllocError", "not enough memory", "free memory, or ask for less at once"},
    {"symResInvalidArea", "the memory area is not valid at the controller",
     "check the tag's declaration on the controller"},
    {"symResInvalidWorkspace", "the controller no longer knows this connection",
     "connect again and repeat the request"},
    {"symResMaxReached", "a limit of the controller is reached",
     "close other clients, or ask for fewer tags at once"},
    {"symResBufferOverflow", "the answer does not fit the controller's reply",
     "narrow the request"},
    {"symResUnkownCommand", "the controller does not know this command",
     "check the versions of the controller and of the library"},
    {"symResShutdownInProgress", "the controller's symbol service is shutting down",
     "try again once the controller is back"},
    {"symResInvalidComm", "the controller refused the communication",
     "check the controller's communication set-up"},
    {"symResServerNotCompatible",
     "the controller's symbol service has a major version other than 3",
     "use a library that matches the controller's version"},
    {"symResOkServerNotFullSupport",
     "connected; the controller's service (3.0.0) lacks some functions",
     "update the controller's firmware for full support"},
    {"symResFileAlreadyExists", "the file exists", "allow overwriting it, or choose another name"},
    {"symResCannotWriteFile", "the file could not be written in full",
     "check the free space and the permissions"},
    {"symResCannotOpenFile", "the file could not be opened", "check the path and the permissions"},
    {"symResCannotReadFile", "the file could not be read", "check the path and the permissions"},
    {"symResSegmentationError", "a reply in several parts broke off",
     "check the connection and repeat the request"},
    {"symResHandleAlreadyExists", "the tag is given twice", "give each tag once"},
    {"symResInvalidGroupSize", "the controller's answer for the group had the wrong size",
     "repeat the request; the controller may have a newer application"},
    {"symResGroupMustBeRead", "the group has not been read yet",
     "read the group first (an internal fault of the program)"},
    {"symResGroupConfigError", "the controller refused the group",
     "read or write fewer tags at once"},
    {"symResInvalidGroupTag", "the controller refused a tag of the group",
     "read or write that tag on its own"},
    {"symResGroupIsEmpty", "nothing to read or write", "give at least one tag"},
    {"symResInvalidTagType", "the tag's type does not allow the operation",
     "check the tag's type; structures and arrays take their members' values"},
    {"symResSocketError",
     "the request could not be sent to the controller or its reply not received",
     "check the host and port, that the controller runs, and the network"},
    {"symResProtocolError", "the controller's reply did not fit the request",
     "repeat the request; check that the address belongs to a symbol service"},
};

constexpr ResultInfo kUnknown = {"symRes?", "an unknown result code",
                                 "check the versions of the controller and of the library"};

static_assert(sizeof kInfos / sizeof kInfos[0] == symResProtocolError + 1,
              "one entry for every result code");

}  // namespace

const ResultInfo& InfoOf(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(sizeof kInfos / sizeof kInfos[0])) {
    return kUnknown;
  }
  return kInfos[code];
}

bool IsTransportFailure(std::int32_t code) {
  return code == symResTimeoutError || code == symResSocketError || code == symResConnectionLost ||
         code == symResProtocolError || code == symResSegmentationError;
}

const char* OpenFailureMessage(std::int32_t code, std::uint64_t elapsed_ms,
                               std::uint32_t timeout_ms) {
  // A controller that takes the connection and stays silent fails the open
  // with symResSocketError once the two negotiations (each tried twice) and
  // the open request have each waited a whole time-out; one that refuses or
  // closes the connection fails it at once.
  const std::uint32_t wait_ms = timeout_ms != 0 ? timeout_ms : kDefaultTimeoutMs;
  if (code == symResSocketError && elapsed_ms >= wait_ms) return "the controller does not answer";
  return InfoOf(code).message;
}

std::string ProgramChangedMessage(const std::string& path) {
  return "the controller's program changed: '" + path +
         "' is laid out differently now; describe it again before writing";
}

}  // namespace qxsym::client
