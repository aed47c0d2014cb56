// The simulated controller's symbol service: answers one request message
// with one reply message over a SymbolModel. Handle is a pure function of the
// bytes that arrive and the service's registry of open workspaces, tags,
// types and groups; it never throws and may be called from several threads.
//
// The registry methods below are what Handle runs after decoding a request;
// the in-process host table calls them directly with the same identifiers.
//
// Reload replaces the model while clients stay connected, as a program
// download replaces a controller's program: the workspaces stay open and
// every object issued before is forgotten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "QXSymbols.h"
#include "SymbolMessages.h"
#include "SymbolModel.h"

namespace qxsym::sim {

class SymbolService {
 public:
  // Bounds that keep a client from growing the registry without limit.
  struct Limits {
    std::uint32_t max_workspaces = 256;
    std::uint32_t max_objects_per_workspace = 65536;  // tags, types and groups
    std::uint32_t max_objects = 1u << 20;             // all workspaces together
    std::uint32_t max_group_members = 65536;
    std::uint32_t max_group_size = 16u << 20;  // bytes of one group's values
  };

  explicit SymbolService(std::shared_ptr<SymbolModel> model);
  SymbolService(std::shared_ptr<SymbolModel> model, const Limits& limits);

  SymbolService(const SymbolService&) = delete;
  SymbolService& operator=(const SymbolService&) = delete;

  // Answers one request; reply is cleared and filled. Never throws.
  void Handle(const std::uint8_t* request, std::size_t size, std::vector<std::uint8_t>& reply);

  // The version reported by command 7 and by the host table; 3.0.1.0 unless set.
  void SetVersion(std::uint8_t major, std::uint8_t minor, std::uint8_t revision,
                  std::uint8_t build);
  void GetVersion(std::uint8_t* major, std::uint8_t* minor, std::uint8_t* revision,
                  std::uint8_t* build) const;

  // The model as seen from inside Handle, or by a caller that never runs
  // alongside Reload (the host table, which is never reloaded).
  const std::shared_ptr<SymbolModel>& model() const { return model_; }
  SymbolModel& symbols() const { return *model_; }
  // The model served now, for callers outside Handle that may race with a
  // reload (the server's memory and variable commands); the copy keeps it
  // alive for as long as the caller holds it.
  std::shared_ptr<SymbolModel> program() const;

  // ---- Program change ----
  // Serves next from now on. Every workspace stays open; every tag, type and
  // group object of every workspace is dropped, so a reference issued before
  // answers symResInvalidHandle like one never issued. Ids go on counting,
  // so no old reference ever comes back to life. A global tag that next
  // declares with the same name, type name and sizes as the current model
  // keeps its current value; the others start with next's values. Waits
  // for the requests under way and holds new ones back until the swap is
  // done, so each request sees one model whole. Returns the number of tags
  // that kept their values; a null next changes nothing.
  std::size_t Reload(std::shared_ptr<SymbolModel> next);

  // ---- References ----
  // A reference is the object's id and a check word derived from it, so a
  // reference that the service never issued is refused.
  SymRef RefFor(std::uint32_t id) const;
  // The id a reference carries; 0 when its check word is wrong.
  std::uint32_t IdOf(const SymRef& ref) const;

  // ---- Registry ----
  // Each returns symResInvalidWorkspace for a workspace id that is not open,
  // and symResInvalidHandle for an object id that is unknown, of another
  // kind, or of another workspace. Ids are never 0 and never reused.
  QXSymResult OpenWorkspace(std::uint8_t selector, std::uint32_t* ws);
  QXSymResult CloseWorkspace(std::uint32_t ws);
  QXSymResult CheckWorkspace(std::uint32_t ws) const;

  // Issues a tag for a symbol; symResMaxReached when the registry is full.
  QXSymResult NewTag(std::uint32_t ws, const SymbolView& view, std::uint32_t* tag);
  // Issues one tag per global tag index, all or none.
  QXSymResult NewTags(std::uint32_t ws, const std::vector<std::size_t>& globals,
                      std::vector<std::uint32_t>* tags);
  QXSymResult FindTag(std::uint32_t ws, std::uint32_t tag, SymbolView* out) const;
  QXSymResult CloseTag(std::uint32_t ws, std::uint32_t tag);

  // A workspace has one id per type: asking again gives the same id, so
  // type objects, which clients never close, do not pile up.
  QXSymResult TypeId(std::uint32_t ws, const Type* type, std::uint32_t* id);
  QXSymResult FindType(std::uint32_t ws, std::uint32_t id, const Type** out) const;

  QXSymResult CreateGroup(std::uint32_t ws, std::uint32_t* group);
  QXSymResult DeleteGroup(std::uint32_t ws, std::uint32_t group);
  // symResInvalidGroupTag for a tag that is not open in the workspace;
  // symResHandleAlreadyExists when the tag is already a member.
  QXSymResult GroupAddTag(std::uint32_t ws, std::uint32_t group, std::uint32_t tag,
                          std::uint32_t* member_size);
  // Works also for a member whose tag was closed meanwhile.
  QXSymResult GroupRemoveTag(std::uint32_t ws, std::uint32_t group, std::uint32_t tag);
  // The members' values back to back; size must be the group's total
  // (symResInvalidGroupSize), an empty group gives symResGroupIsEmpty.
  QXSymResult GroupRead(std::uint32_t ws, std::uint32_t group, std::uint64_t size,
                        std::vector<std::uint8_t>* out);
  QXSymResult GroupWrite(std::uint32_t ws, std::uint32_t group, const std::uint8_t* data,
                         std::uint64_t size);

  std::size_t workspace_count() const;
  std::size_t object_count() const;

 private:
  enum class Kind { kTag, kType, kGroup };
  struct GroupMember {
    std::uint32_t tag;
    SymbolView view;
    std::uint32_t size;
  };
  struct Object {
    Kind kind = Kind::kTag;
    std::uint32_t ws = 0;
    SymbolView view;                   // kTag
    const Type* type = nullptr;        // kType
    std::vector<GroupMember> members;  // kGroup
    std::uint64_t group_size = 0;      // kGroup
    // kGroup: the members' views for one read or write, kept for reuse.
    std::vector<const SymbolView*> scratch_views;
  };
  struct Workspace {
    std::uint8_t selector = 0;
    std::unordered_set<std::uint32_t> objects;
    std::unordered_map<const Type*, std::uint32_t> types;
  };

  void HandleChecked(const std::uint8_t* request, std::size_t size,
                     std::vector<std::uint8_t>& reply);
  // Holds the model in place: shared with other requests, never with Reload.
  std::shared_lock<std::shared_mutex> ShareProgram() const;

  // Caller holds mutex_.
  std::uint32_t NextIdLocked();
  QXSymResult RoomLocked(const Workspace& w, std::size_t more) const;
  QXSymResult FindLocked(std::uint32_t ws, std::uint32_t id, Kind kind, Object** out);
  QXSymResult FindLocked(std::uint32_t ws, std::uint32_t id, Kind kind, const Object** out) const;
  // Both of the above: Self is SymbolService or const SymbolService.
  template <typename Self, typename Found>
  static QXSymResult FindIn(Self& self, std::uint32_t ws, std::uint32_t id, Kind kind, Found** out);
  std::uint32_t AddObjectLocked(std::uint32_t ws, Workspace& w, Object object);

  // Handle holds program_mutex_ shared for a whole request and Reload holds
  // it exclusively. Both pass reload_gate_ first, so a waiting reload is not
  // starved by a stream of overlapping requests.
  mutable std::mutex reload_gate_;
  mutable std::shared_mutex program_mutex_;
  std::shared_ptr<SymbolModel> model_;
  const Limits limits_;
  std::uint32_t secret_;

  mutable std::mutex mutex_;
  std::uint8_t version_[4] = {3, 0, 1, 0};
  std::uint32_t next_id_ = 1;
  std::unordered_map<std::uint32_t, Workspace> workspaces_;
  std::unordered_map<std::uint32_t, Object> objects_;
};

}  // namespace qxsym::sim
