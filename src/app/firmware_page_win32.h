// The firmware page of the settings sheet: the container file and the list of its modules.
#pragma once

#include <string>

#include "ui/controls.h"
#include "ui/property_sheet.h"

class CFirmwarePage : public CPropertyPage {
public:
    explicit CFirmwarePage(CRunHost& host);

    // The full path of the firmware container, kept whether or not the file loads.
    std::string fileName;
    // A scanner already at the module's version is not updated.
    bool skipCurrent = false;
    // The speed code the module is written at (6..9).
    int transferSpeedCode = 6;

private:
    void AttachControls() override;
    bool Exchange(bool save) override;
    bool OnInitPage() override;
    bool OnCommand(int id, int code, HWND control) override;

    void OnBrowse();
    // Lists the modules of the file named in the edit box; on a file that does not load,
    // leaves the list empty and disabled and throws the reader's failure.
    void FillModuleList();

    CListView modules;
    CComboBox transferSpeed;
};
