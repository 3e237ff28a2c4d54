// Thin wrappers over the common controls the windows use. They hold the control's window
// only; texts are UTF-8 on this side.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

class CListView {
public:
    CListView() = default;
    explicit CListView(HWND control) : control(control) {}
    void Attach(HWND handle) { control = handle; }
    HWND Handle() const { return control; }

    void AddExtendedStyle(DWORD styles);
    // Appends a column at the end; format LVCFMT_LEFT or LVCFMT_RIGHT.
    void AddColumn(const std::string& heading, int width, int format);
    void SetColumnWidth(int column, int width);
    int ClientWidth() const;

    int Count() const;
    // Inserts at index (the list places it elsewhere when it sorts); returns where it went.
    int InsertItem(int index, const std::string& text, LPARAM data = 0);
    void DeleteItem(int index);
    void DeleteAll();
    std::string Text(int item, int column) const;
    void SetText(int item, int column, const std::string& text);
    LPARAM Data(int item) const;
    void SetData(int item, LPARAM data);

    // State images count from 1 (1 unchecked, 2 checked with check boxes); 0 = none.
    int StateImage(int item) const;
    void SetStateImage(int item, int image);
    bool IsChecked(int item) const { return StateImage(item) == 2; }
    void SetChecked(int item, bool checked) { SetStateImage(item, checked ? 2 : 1); }
    // The width of the state images in pixels; 0 when the list has none.
    int StateImageSize() const;
    // Adds an icon to the state images (after the check-box images); returns its index
    // counted from 1, or 0 when it could not be added.
    int AppendStateImage(HICON icon);

    void EnsureVisible(int item);
    // The first selected item, or -1.
    int Selected() const;
    void Select(int item);

private:
    HWND control = nullptr;
};

class CComboBox {
public:
    CComboBox() = default;
    explicit CComboBox(HWND control) : control(control) {}
    void Attach(HWND handle) { control = handle; }
    HWND Handle() const { return control; }

    int Count() const;
    std::string Text(int index) const;
    std::vector<std::string> Texts() const;
    // Returns the index the item went to (a sorted combo places it in order).
    int Add(const std::string& text);
    void Delete(int index);
    // The exact, case-sensitive match, or -1.
    int FindExact(const std::string& text) const;
    int Selected() const;
    void Select(int index);
    bool IsDroppedDown() const;

private:
    HWND control = nullptr;
};
