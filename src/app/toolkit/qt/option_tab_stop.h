// Keyboard focus among mutually exclusive options the way operators of the
// window's original toolkit know it: Tab (and Shift+Tab) enters a set of
// options at its checked option, and the arrow keys move on from there.
#pragma once

#include <QAbstractButton>
#include <QObject>

#include <vector>

namespace qtk {

// Lets only the checked option of `options` (the first when none is
// checked) take focus by Tab, whenever the checked option changes and
// whenever focus leaves the set. The options must share a parent, which
// owns the filter that does this.
void KeepTabStopOnCheckedOption(const std::vector<QAbstractButton*>& options);

}  // namespace qtk
