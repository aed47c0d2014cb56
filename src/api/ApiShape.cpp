#include "ApiShape.h"

#include <algorithm>
#include <vector>

namespace qxsym {
namespace api {

namespace {

// The tags of list, ready for the registry. Converted before the lock is
// taken, so no allocation for them happens under it.
std::vector<std::shared_ptr<void>> Shared(QXSymClientWorkspace::TagList* list) {
  std::vector<std::shared_ptr<void>> objects;
  objects.reserve(list->size());
  for (auto& tag : *list) objects.push_back(std::shared_ptr<QXSymClientTag>(std::move(tag)));
  return objects;
}

// Under the lock: registers every object as a tag, writing the handles to
// handles[0..n-1], then runs commit. When a handle is missing or anything
// throws, every tag registered here is taken out again. objects keeps its
// own reference, so the caller destroys them after the lock is released.
template <typename Commit>
QXSymResult RegisterTagsThen(const std::vector<std::shared_ptr<void>>& objects,
                             QXSymTagHandle* handles, Commit&& commit) {
  HandleRegistry& registry = State().registry();
  std::size_t done = 0;
  auto undo = [&] {
    for (std::size_t i = 0; i < done; ++i) registry.Remove(Id(handles[i]), HandleKind::kTag);
  };
  std::lock_guard<std::mutex> guard(State().lock());
  try {
    for (; done < objects.size(); ++done) {
      const std::uint32_t h = registry.Add(HandleKind::kTag, objects[done]);
      if (h == 0) break;
      handles[done] = static_cast<QXSymTagHandle>(h);
    }
    if (done == objects.size()) {
      commit();
      return symResOk;
    }
  } catch (...) {
    undo();
    throw;
  }
  undo();
  return symResMemoryAllocError;
}

}  // namespace

QXSymResult PublishTags(QXSymClientWorkspace::TagList* list, QXSymTagHandle* out) {
  const std::vector<std::shared_ptr<void>> objects = Shared(list);
  std::vector<QXSymTagHandle> handles(objects.size(), 0);
  return RegisterTagsThen(objects, handles.data(),
                          [&] { std::copy(handles.begin(), handles.end(), out); });
}

QXSymResult PublishTagList(QXSymClientWorkspace::TagList* list, QXSymTagHandle** tags,
                           std::uint32_t* count) {
  const std::vector<std::shared_ptr<void>> objects = Shared(list);
  std::vector<QXSymTagHandle> handles(objects.size(), 0);
  // The n handles and the terminating 0; the registry keeps this very array.
  std::vector<QXSymTagHandle> entries(objects.size() + 1, 0);
  return RegisterTagsThen(objects, handles.data(), [&] {
    const auto n = static_cast<std::uint32_t>(handles.size());
    std::copy(handles.begin(), handles.end(), entries.begin());
    QXSymTagHandle* registered = State().registry().AddList(std::move(entries));
    *tags = registered;
    *count = n;
  });
}

}  // namespace api
}  // namespace qxsym
