#include "base/trace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/file_open.h"
#include "base/record_file.h"
#include "base/strings.h"
#include "base/system_error.h"

namespace {

void AppendNumber(std::string& out, uint64_t value)
{
    char digits[24];
    unsigned n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n != 0)
        out += digits[--n];
}

class CFileOutput {
public:
    explicit CFileOutput(std::FILE* file) : file(file) {}
    ~CFileOutput() { std::fclose(file); }
    CFileOutput(const CFileOutput&) = delete;
    CFileOutput& operator=(const CFileOutput&) = delete;

    // Each line goes to the file at once, so a trace is complete up to the moment a run
    // dies, which is when support needs it most.
    // False when the line did not reach the file (a full disk, /dev/full).
    bool Write(const std::string& line)
    {
        const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
        return std::fflush(file) == 0 && written;
    }

private:
    std::FILE* file;
};

}  // namespace

CTraceWriter::CTraceWriter(Output out, Clock clk)
    : output(std::move(out)), clock(std::move(clk)), start(clock())
{
}

void CTraceWriter::Begin(const std::string& port, char mark)
{
    line.clear();
    AppendNumber(line, clock() - start);
    line += '\t';
    line += port;
    line += '\t';
    line += mark;
    line += '\t';
}

void CTraceWriter::Frame(const std::string& port, TraceDirection direction,
                         const unsigned char* bytes, unsigned size, const char* command,
                         int status, const char* note)
{
    static const char kHex[] = "0123456789abcdef";
    const std::lock_guard<std::mutex> lock(mutex);
    Begin(port, static_cast<char>(direction));
    for (unsigned i = 0; i < size; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 15];
    }
    if (size == 0)
        line += '-';
    line += '\t';
    line += command;
    if (status != kTraceNoStatus) {
        line += "\tstatus=";
        AppendNumber(line, static_cast<uint64_t>(status));
    }
    if (note) {
        line += '\t';
        line += note;
    }
    line += '\n';
    output(line);
}

void CTraceWriter::Event(const std::string& port, const std::string& what)
{
    const std::lock_guard<std::mutex> lock(mutex);
    Begin(port, '*');
    line += what;
    line += '\n';
    output(line);
}

void CTraceWriter::Comment(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(mutex);
    line = "# ";
    line += text;
    line += '\n';
    output(line);
}

uint64_t MonotonicMicroseconds()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

std::unique_ptr<CTraceSink> OpenTraceFile(const std::string& path, std::string& error,
                                          const std::string& program)
{
    std::FILE* file = OpenFileUtf8(path, "wb");
    if (!file) {
        error = ErrnoText(errno);
        return nullptr;
    }
    auto out = std::make_shared<CFileOutput>(file);
    // A file that takes no heading takes no trace either: better said before the run.
    errno = 0;
    const std::string about = program.empty() ? std::string() : "; " + program;
    if (!out->Write("# trace started " + UtcTimeText() + about +
                    "; microseconds since then, port, > sent < received * event\n")) {
        error = errno != 0 ? ErrnoText(errno) : std::string(LoadText(IDS_SYSERR_SHORT_WRITE));
        return nullptr;
    }
    return std::make_unique<CTraceWriter>([out](const std::string& line) { out->Write(line); },
                                          MonotonicMicroseconds);
}
