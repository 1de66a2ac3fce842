#pragma once

#include "winsteps_export.h"

#include <QString>

#include <mutex>
#include <ostream>
#include <string>

// The trace channel. Every trace is: lock debugMutex, debugModule(tag), compose the
// message, debugOutput(message), unlock. Use the trace() helper, which does exactly that.

namespace winsteps {

// Module names used as trace tags.
namespace module {
inline constexpr const char* state = "state";
inline constexpr const char* transition = "transition";
inline constexpr const char* propertymapfunctions = "propertymapfunctions";
inline constexpr const char* xpath = "xpath";
inline constexpr const char* action = "action";
inline constexpr const char* startprocessaction = "startprocessaction";
inline constexpr const char* actioncopyfiles = "actioncopyfiles";
inline constexpr const char* systemCheck = "systemCheck";
inline constexpr const char* WinServiceManager = "WinServiceManager";
inline constexpr const char* sysTasks = "sysTasks";
inline constexpr const char* CFirewall = "CFirewall";
inline constexpr const char* devprep = "devprep";
inline constexpr const char* DMDevice = "DMDevice";
inline constexpr const char* emailSettingsState = "emailSettingsState";
inline constexpr const char* serviceStates = "serviceStates";
inline constexpr const char* propertymap = "propertymap";
inline constexpr const char* expression = "expression";
inline constexpr const char* xmlfunctions = "xmlfunctions";
inline constexpr const char* actioncheckfirewall = "actioncheckfirewall";
inline constexpr const char* app = "app";
inline constexpr const char* domnode = "domnode";
inline constexpr const char* appconfig = "appconfig";
inline constexpr const char* nicbroker = "nicbroker";
} // namespace module

// The one process-wide, non-recursive trace lock. A std::mutex so that thread checkers see it.
WINSTEPS_EXPORT std::mutex& debugMutex();

// Writes the module tag "[name padded/cut to 20]" when the module passes the filters.
// Loads the filter settings on first use. Caller holds debugMutex.
WINSTEPS_EXPORT std::ostream& debugModule(const char* moduleName);

// Writes text to the sink and the debugger channel: one piece when it holds no end-of-line
// or only a final one; otherwise each non-empty line as its own piece, indented by 23
// blanks and ended by an end-of-line. Each piece starts with the time stamp when time
// stamps are on. Caller holds debugMutex. The text is UTF-8.
WINSTEPS_EXPORT void debugOutput(std::string text);

// "hh:mm:ss.mmm " with blank padding, local time.
WINSTEPS_EXPORT std::string debugTimeStamp();

// The time-stamp text of a given time: hour, minute and second right-aligned in 2
// characters, milliseconds in 3, blank-padded, then one blank (" 9: 5: 7. 42 ").
WINSTEPS_EXPORT std::string formatDebugTimeStamp(int hour, int minute, int second, int millisecond);

// One whole trace under the lock: tag, then message. The message normally ends with "\n".
WINSTEPS_EXPORT void trace(const char* moduleName, const QString& message);

// Gathers the traces this thread writes while it lives and writes them to std::clog in one
// call when the outermost batch of the thread ends (or once 64 KiB have gathered): a long
// series of traces (a search over many nodes, one transition) then costs one system call
// instead of one per trace, and the bytes are the same. Only the default std::clog sink is
// batched; an installed sink and the debugger channel still get every piece at once. Batches
// nest. Keep a batch to one library call: output written outside the trace channel while it
// lives (std::cout, the toolkit's messages) would come before the batched traces.
class WINSTEPS_EXPORT TraceBatch {
public:
    TraceBatch();
    ~TraceBatch();
    TraceBatch(const TraceBatch&) = delete;
    TraceBatch& operator=(const TraceBatch&) = delete;
};

// Where trace pieces go besides the debugger channel. The default sink writes each piece
// to std::clog in one call. A host may install its own (a file for --trace, or a terminal
// writer that keeps a progress line intact). write() is called under debugMutex and must
// not trace. Passing nullptr restores the default. The sink is not owned.
class WINSTEPS_EXPORT TraceSink {
public:
    virtual ~TraceSink();
    virtual void write(const std::string& piece) = 0;
};
WINSTEPS_EXPORT void setTraceSink(TraceSink* sink);

// Forget the loaded filter settings so the next trace reads them again (tests only).
// Must not be called while holding debugMutex; neither may setTraceSink.
WINSTEPS_EXPORT void resetDebugSettingsForTest();

} // namespace winsteps
