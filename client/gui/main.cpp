// cl_vorlix: the Vorlix viewer. Settings in section "cl" of Vorlix.ini in
// the directory it is started from.
//
//   cl_vorlix [--verbose] [--snapshot FILE]
#include <QApplication>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <string>

#include "client/gui/ViewerWindow.h"
#include "libkestrel/trace/QXTrace.h"

namespace {

// --verbose: the trace lines on standard error, one per call.
void TraceToStderr(int /*level*/, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
    va_end(args);
    std::fputc('\n', stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("cl_vorlix");
    vorlix::client::ViewerOptions options;
    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == "--verbose") {
            SetTracelnFunction(&TraceToStderr);
        } else if (args[i] == "--snapshot" && i + 1 < args.size()) {
            options.snapshot = args[++i].toStdString();
        } else {
            std::fprintf(stderr, "usage: cl_vorlix [--verbose] [--snapshot FILE]\n");
            return 2;
        }
    }
    std::error_code error;
    const std::string startDir = std::filesystem::current_path(error).string();
    vorlix::client::ViewerWindow window(startDir, options);
    window.show();
    return QApplication::exec();
}
