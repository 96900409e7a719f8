// The trace windows of CWndFile on Qt 6 Widgets, in a library of their own
// (kestrel_qtwindow) so that the tools library stays free of Qt.
//
// Qt runs widgets on one thread only, the thread of the program's
// QApplication: that is the window thread of every window file. Writers on
// any thread never wait for it; the windows are served by the program's
// event loop, or, in a program that has none running, by WaitForEnd and
// ProcessTraceWndMessages called on that thread. A program without a
// QApplication gets no window file (a local trace mode then writes to the
// standard error stream).
#pragma once

namespace kestrel::qtwindow {

// Makes Qt the window library of CWndFile (SetTraceWindowFactory) and of the
// trace window pump.
void Install();

}  // namespace kestrel::qtwindow
