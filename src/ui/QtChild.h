#pragma once

#include <memory>
#include <utility>

namespace kestrova::ui {

/// Creates a Qt object that its Qt parent will own: the parent passed among
/// `args`, or the widget a layout or `addWidget` reparents it to. Qt deletes
/// children with their parent, so the pointer returned is non-owning.
template <class T, class... Args> T *qtChild(Args &&...args) {
  return std::make_unique<T>(std::forward<Args>(args)...).release();
}

} // namespace kestrova::ui
