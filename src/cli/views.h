// The command-line tool's faces of the shared run loop and device search: rows become
// lines on the output.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "connection/device_search.h"
#include "engine/multi_port.h"
#include "engine/run_loop.h"

// The operation list of a run. A row's progress rewrites one line on a terminal and
// adds a line per text otherwise; each final status ("OK", "Ошибка", "Прервано",
// "Пропущен") ends the row with the line "<row name>: <status>".
class CCliRunView : public CRunView {
public:
    CCliRunView(std::ostream& out, bool terminal);

    int RowCount() override { return static_cast<int>(rows.size()); }
    bool IsRowChecked(int row) override { return true; }
    OperationFunction RowOperation(int row) override { return rows[row].function; }
    void SetRowStatus(int row, const std::string& text) override;
    void SetRowResult(int row, unsigned statusId) override;
    // The note is the run's last line, after the row's status.
    void SetRowNote(int row, unsigned statusId, const std::string& note) override;
    // The remark is a line of its own after the row's status line.
    void SetRowRemark(int row, unsigned statusId, const std::string& remark) override;
    void EnsureRowVisible(int row) override {}
    void SetTitle(const std::string& title) override {}
    void FlashIfInactive() override {}
    BoxOwner OwnerWindow() override { return nullptr; }   // a terminal has no windows

    // Every row ended "OK" the last time it ended.
    bool AllRowsOk() const;
    // Per row, the string id of the status it last ended with (0: never ended).
    std::vector<unsigned> FinalStatuses() const;
    // Measures the firmware row's transfer rate on the clock from now on.
    void MeasureTransfer(CRunHost& clock, uint32_t blockSize);
    uint64_t BytesPerSecond() const { return meter.BytesPerSecond(); }

private:
    struct Row {
        std::string name;
        OperationFunction function;
        unsigned finalStatus = 0;   // string id of the status the row last ended with
    };
    void EndProgressLine();

    std::ostream& out;
    bool terminal;
    std::vector<Row> rows;
    // Characters shown by the progress line a terminal has open, 0 when none is open.
    size_t progressWidth = 0;
    CRunHost* clock = nullptr;
    CTransferMeter meter{0};
};

// The ports of a search, each printed as "port<TAB>speed<TAB>state" when the search
// has moved past it. The speed is the baud rate that answered, or "-".
class CCliSearchView : public CSearchView {
public:
    struct Row {
        std::string port;
        std::string state;
        int code = -1;   // the speed code that answered; -1: none
    };

    // Without print nothing is written; the rows are read afterwards (--json).
    CCliSearchView(std::ostream& out, std::vector<std::string> ports, bool print = true);

    int RowCount() override { return static_cast<int>(rows.size()); }
    std::string PortName(int row) override { return rows[row].port; }
    bool IsTicked(int row) override { return true; }
    void SetSpeedText(int row, const std::string& text) override {}
    void SetStateText(int row, const std::string& text) override { rows[row].state = text; }
    void SetRowCode(int row, int code) override { rows[row].code = code; }
    void EnsureVisible(int row) override;
    BoxOwner OwnerWindow() override { return nullptr; }

    // Prints the port still open, if any.
    void Finish();
    bool AnyFound() const;
    const std::vector<Row>& Rows() const { return rows; }

private:
    void Print(int row);

    std::ostream& out;
    bool print;
    std::vector<Row> rows;
    int current = -1;
};
