#include "cli/host.h"

#include "base/strings.h"

namespace {

enum class Answer { Yes, No, Unclear };

Answer ParseAnswer(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    for (const char* yes : {"y", "Y", "yes", "Yes", "д", "Д", "да", "Да"}) {
        if (line == yes)
            return Answer::Yes;
    }
    for (const char* no : {"n", "N", "no", "No", "н", "Н", "нет", "Нет"}) {
        if (line == no)
            return Answer::No;
    }
    return Answer::Unclear;
}

}  // namespace

std::string PlainLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

CCliHost::CCliHost(CRunHost& platform, std::ostream& err, std::optional<unsigned> retries,
                   CCliTerminal terminal)
    : platform(platform), err(err), retriesLeft(retries), terminal(std::move(terminal))
{
}

void CCliHost::PumpMessages()
{
    // Sources registered with this host are delivered here; the platform host delivers
    // its own (the device-change watches) in its pump.
    DispatchEventSources();
    try {
        platform.PumpMessages();
    } catch (const stop_exception&) {
        stopped = true;
        throw;
    }
}

bool CCliHost::ShowMessageBox(const std::string& text, const std::string& caption,
                              MessageBoxKind kind, BoxOwner)
{
    // The caption names the box for a window; on a terminal the text says it all.
    (void)caption;
    // A question follows the failure's message after an empty line.
    lastMessage = PlainLineEnds(text.substr(0, text.rfind("\r\n\r\n")));
    if (kind != MessageBoxKind::Question) {
        if (kind == MessageBoxKind::Error)
            ++errors;
        err << Prefixed(PlainLineEnds(text)) << '\n' << std::flush;
        return true;
    }
    err << Prefixed(PlainLineEnds(text)) << ' ' << std::flush;
    return Ask();
}

std::string CCliHost::Prefixed(const std::string& text) const
{
    if (portName.empty() || text.find(portName) != std::string::npos)
        return text;
    return portName + ": " + text;
}

bool CCliHost::Ask()
{
    if (retriesLeft) {
        const bool yes = *retriesLeft > 0;
        if (yes)
            --*retriesLeft;
        err << LoadText(yes ? IDS_CLI_YES : IDS_CLI_NO) << '\n' << std::flush;
        return yes;
    }
    if (!terminal.interactive || !terminal.readLine) {
        err << LoadText(IDS_CLI_NO) << '\n' << std::flush;
        return false;
    }
    for (;;) {
        err << LoadText(IDS_CLI_ANSWER_PROMPT) << std::flush;
        std::string line;
        if (!terminal.readLine(line)) {
            err << LoadText(IDS_CLI_NO) << '\n' << std::flush;
            return false;
        }
        const Answer answer = ParseAnswer(line);
        if (answer != Answer::Unclear)
            return answer == Answer::Yes;
    }
}
