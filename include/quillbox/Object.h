#pragma once
// The host's generic object: every interface of a component derives from it, so a host can
// hold any of them as an Object and reach another interface of the same object by a cast.

#include <memory>

namespace quillbox {

class IObject {
 public:
  virtual ~IObject() = default;
};

using Object = std::shared_ptr<IObject>;

// Reaches interface I of an object, or null when the object does not implement it.
template <class I>
std::shared_ptr<I> As(const Object& object) {
  return std::dynamic_pointer_cast<I>(object);
}

}  // namespace quillbox
