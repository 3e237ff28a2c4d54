// The run's view over the operation catalogue as it is: every row runs, and each row's
// last status text is kept. Its owner window is the view itself, so a test can tell that
// a box belongs to the run.
#pragma once

#include <string>
#include <vector>

#include "engine/operations.h"
#include "engine/run_loop.h"

class CCatalogueView : public CRunView {
public:
    CCatalogueView()
    {
        size_t count = 0;
        const OperationDescriptor* rows = OperationCatalogue(count);
        operations.assign(rows, rows + count);
        status.resize(count);
    }
    int RowCount() override { return static_cast<int>(operations.size()); }
    bool IsRowChecked(int) override { return true; }
    OperationFunction RowOperation(int row) override { return operations[row].function; }
    void SetRowStatus(int row, const std::string& text) override { status[row] = text; }
    void EnsureRowVisible(int) override {}
    void SetTitle(const std::string&) override {}
    void FlashIfInactive() override {}
    BoxOwner OwnerWindow() override { return this; }

    std::vector<OperationDescriptor> operations;
    std::vector<std::string> status;
};
