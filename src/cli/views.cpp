#include "cli/views.h"

#include "base/strings.h"
#include "protocol/commands.h"

namespace {

// Columns a UTF-8 text takes on a terminal: one per character (the texts hold no wide
// characters).
size_t DisplayWidth(const std::string& text)
{
    size_t width = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++width;
    }
    return width;
}

}  // namespace

CCliRunView::CCliRunView(std::ostream& out, bool terminal) : out(out), terminal(terminal)
{
    size_t count = 0;
    const OperationDescriptor* catalogue = OperationCatalogue(count);
    for (size_t i = 0; i < count; ++i)
        rows.push_back(Row{LoadText(catalogue[i].nameId), catalogue[i].function});
}

void CCliRunView::SetRowStatus(int row, const std::string& text)
{
    // The run clears every status when it starts; a clear shows nothing here.
    if (text.empty())
        return;
    if (row == 0 && clock)
        meter.OnFirmwareRowText(text, clock->TickCount());
    const std::string line = rows[row].name + ": " + text;
    if (terminal) {
        const size_t width = DisplayWidth(line);
        out << '\r' << line;
        if (width < progressWidth)
            out << std::string(progressWidth - width, ' ');
        out << std::flush;
        progressWidth = width;
    } else {
        out << line << '\n' << std::flush;
    }
}

void CCliRunView::SetRowResult(int row, unsigned statusId)
{
    EndProgressLine();
    rows[row].finalStatus = statusId;
    out << rows[row].name << ": " << LoadText(statusId) << '\n' << std::flush;
}

void CCliRunView::SetRowNote(int, unsigned, const std::string& note)
{
    EndProgressLine();
    out << note << '\n' << std::flush;
}

void CCliRunView::SetRowRemark(int row, unsigned statusId, const std::string& remark)
{
    SetRowNote(row, statusId, remark);
}

void CCliRunView::EndProgressLine()
{
    if (progressWidth == 0)
        return;
    out << '\r' << std::string(progressWidth, ' ') << '\r';
    progressWidth = 0;
}

bool CCliRunView::AllRowsOk() const
{
    for (const Row& row : rows) {
        if (row.finalStatus != IDS_STATUS_OK)
            return false;
    }
    return true;
}

std::vector<unsigned> CCliRunView::FinalStatuses() const
{
    std::vector<unsigned> statuses;
    for (const Row& row : rows)
        statuses.push_back(row.finalStatus);
    return statuses;
}

void CCliRunView::MeasureTransfer(CRunHost& host, uint32_t blockSize)
{
    clock = &host;
    meter = CTransferMeter(blockSize);
}

CCliSearchView::CCliSearchView(std::ostream& out, std::vector<std::string> ports, bool print)
    : out(out), print(print)
{
    for (std::string& port : ports)
        rows.push_back(Row{std::move(port), std::string(), -1});
}

void CCliSearchView::EnsureVisible(int row)
{
    if (current >= 0 && current != row)
        Print(current);
    current = row;
}

void CCliSearchView::Finish()
{
    if (current >= 0)
        Print(current);
    current = -1;
}

bool CCliSearchView::AnyFound() const
{
    for (const Row& row : rows) {
        if (row.code >= 0)
            return true;
    }
    return false;
}

void CCliSearchView::Print(int row)
{
    if (!print)
        return;
    const Row& r = rows[row];
    const std::string speed = r.code >= 0 ? std::to_string(BaudFromCode(r.code)) : "-";
    out << r.port << '\t' << speed << '\t' << r.state << '\n' << std::flush;
}
