// Widgets, actions and timers given to a Qt parent, which deletes them with
// itself: the one place where such objects are made with new.
#pragma once

#include <utility>

namespace vorlix::gui {

template <class T, class... Args>
T* QtOwned(Args&&... args)
{
    return new T(std::forward<Args>(args)...);  // NOLINT(cppcoreguidelines-owning-memory): owned by its Qt parent
}

}  // namespace vorlix::gui
