// The severity of a log record, lowest first. Kept apart from the logger so
// that code which only names a level does not pull in the logger itself.
#ifndef VELQA_LOGGING_LOG_LEVEL_H_
#define VELQA_LOGGING_LOG_LEVEL_H_

enum class LogLevel : int { kDebug = 0, kInfo, kWarning, kError, kFatal };

#endif  // VELQA_LOGGING_LOG_LEVEL_H_
