#include "app/LogSetup.h"

#include <cstdlib>

#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "common/LogOutput.h"

namespace {

// The syslog priority that the journal reads from a "<N>" line prefix.
class JournalPriorityFlag : public spdlog::custom_flag_formatter {
public:
    void format(const spdlog::details::log_msg& message, const std::tm&, spdlog::memory_buf_t& out) override
    {
        int priority = 6;
        switch (message.level) {
        case spdlog::level::trace:
        case spdlog::level::debug: priority = 7; break;
        case spdlog::level::info: priority = 6; break;
        case spdlog::level::warn: priority = 4; break;
        case spdlog::level::err: priority = 3; break;
        case spdlog::level::critical: priority = 2; break;
        default: break;
        }
        char text[4] = {'<', static_cast<char>('0' + priority), '>', '\0'};
        out.append(text, text + 3);
    }
    std::unique_ptr<spdlog::custom_flag_formatter> clone() const override
    {
        return std::make_unique<JournalPriorityFlag>();
    }
};

}  // namespace

LogDecoration DecorationForThisProcess()
{
    const char* journal = std::getenv("JOURNAL_STREAM");
    return journal != nullptr && journal[0] != '\0' ? LogDecoration::JournalPriority : LogDecoration::Timestamp;
}

std::optional<LogLevel> ParseLogLevel(const std::string& name)
{
    if (name == "trace" || name == "debug") return LogLevel::Debug;
    if (name == "info") return LogLevel::Info;
    if (name == "warn" || name == "warning") return LogLevel::Warning;
    if (name == "error" || name == "critical") return LogLevel::Error;
    return std::nullopt;
}

void SetUpLogging(LogDecoration decoration, const std::string& levelName)
{
    auto console = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    std::unique_ptr<spdlog::pattern_formatter> formatter;
    if (decoration == LogDecoration::JournalPriority) {
        formatter = std::make_unique<spdlog::pattern_formatter>();
        formatter->add_flag<JournalPriorityFlag>('*').set_pattern("%*%v");
    } else {
        formatter = std::make_unique<spdlog::pattern_formatter>("%Y-%m-%d %H:%M:%S.%e %v");
    }
    console->set_formatter(std::move(formatter));
    if (levelName == "off") SetLogConsole(std::make_shared<spdlog::sinks::null_sink_mt>());
    else SetLogConsole(console);
    SetLogFolding(true);
    std::optional<LogLevel> level = ParseLogLevel(levelName);
    SetLogThreshold(level.value_or(LogLevel::Info));
    if (!level && levelName != "off")
        LogWarning("log", "unknown log level \"%s\"; using \"info\"", levelName.c_str());
}
