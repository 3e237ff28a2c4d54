// The search for scanners over ticked serial ports at speed codes 0..6, then 7..9 (the
// fast ones a port may refuse), written against a small view so that the search window
// and the command-line tool share it.
#pragma once

#include <string>
#include <vector>

#include "base/host.h"

class CPortSystem;
class CRunHost;

// What the search shows per port; rows are addressed by index.
class CSearchView {
public:
    virtual ~CSearchView() = default;
    virtual int RowCount() = 0;
    virtual std::string PortName(int row) = 0;
    virtual bool IsTicked(int row) = 0;
    virtual void SetSpeedText(int row, const std::string& text) = 0;
    virtual void SetStateText(int row, const std::string& text) = 0;
    // The speed code that answered, or -1.
    virtual void SetRowCode(int row, int code) = 0;
    virtual void EnsureVisible(int row) = 0;
    // The window the search's message boxes belong to.
    virtual BoxOwner OwnerWindow() = 0;
};

constexpr unsigned kSearchTimeoutMs = 100;

// Tries every ticked row in order. A port error or a scanner error shows its message on
// that row and the search goes on; Stop (or anything unexpected) marks the row
// "Поиск остановлен", is reported through the host (silently for Stop) and ends the
// search. Never throws.
void SearchDevices(CPortSystem& ports, CRunHost& host, CSearchView& view);
