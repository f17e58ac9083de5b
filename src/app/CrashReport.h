#pragma once

#include <QString>
#include <exception>
#include <functional>

/// The report of a failure that no handler of the program caught: the step that raised it ends,
/// the user is told under the caption "Application Error!", and the program goes on.
class CrashReport
{
public:
    using Reporter = std::function<void(const QString& text)>;

    static QString caption() { return QStringLiteral("Application Error!"); }

    /// Replaces how failures are shown; by default they are a line on standard error.
    static void setReporter(Reporter reporter);
    static void report(const QString& text);
    /// Where a reporter writes what it does not show; by default a warning of the crash category.
    static void setLog(Reporter log);
    static void log(const QString& text);

    /// Runs `step`, reporting a failure that escapes it. Returns whether it ran to its end.
    template <typename Step> static bool guard(Step&& step)
    {
        try {
            step();
            return true;
        } catch (const std::exception& failure) {
            report(QString::fromUtf8(failure.what()));
        } catch (...) {
            report(QStringLiteral("Unknown failure"));
        }
        return false;
    }
};
