// Widgets, layouts, shortcuts and timers given to a Qt parent, which deletes
// them with itself: the one place where such objects are made with new.
#pragma once

#include <utility>

namespace vorlix::client {

template <class T, class... Args>
T* QtChild(Args&&... args)
{
    return new T(std::forward<Args>(args)...);  // NOLINT(cppcoreguidelines-owning-memory): owned by its Qt parent
}

}  // namespace vorlix::client
