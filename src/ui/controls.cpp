#include "ui/controls.h"

#include "base/utf.h"

namespace {

// The list view's text calls take a buffer; these texts are short (port names, model
// names, messages), and a longer one is cut at this many characters.
constexpr int kItemTextLimit = 1024;

}  // namespace

void CListView::AddExtendedStyle(DWORD styles)
{
    ListView_SetExtendedListViewStyleEx(control, styles, styles);
}

void CListView::AddColumn(const std::string& heading, int width, int format)
{
    HWND header = ListView_GetHeader(control);
    const int index = header != nullptr ? Header_GetItemCount(header) : 0;
    std::wstring text = Widen(heading);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = text.data();
    column.iSubItem = index;
    SendMessageW(control, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void CListView::SetColumnWidth(int column, int width)
{
    ListView_SetColumnWidth(control, column, width);
}

int CListView::ClientWidth() const
{
    RECT area{};
    GetClientRect(control, &area);
    return area.right - area.left;
}

int CListView::Count() const
{
    return ListView_GetItemCount(control);
}

int CListView::InsertItem(int index, const std::string& text, LPARAM data)
{
    std::wstring wide = Widen(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    item.pszText = wide.data();
    item.lParam = data;
    return static_cast<int>(SendMessageW(control, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void CListView::DeleteItem(int index)
{
    ListView_DeleteItem(control, index);
}

void CListView::DeleteAll()
{
    ListView_DeleteAllItems(control);
}

std::string CListView::Text(int item, int column) const
{
    wchar_t buffer[kItemTextLimit] = {};
    LVITEMW request{};
    request.iSubItem = column;
    request.pszText = buffer;
    request.cchTextMax = kItemTextLimit;
    SendMessageW(control, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&request));
    return Narrow(buffer);
}

void CListView::SetText(int item, int column, const std::string& text)
{
    std::wstring wide = Widen(text);
    LVITEMW request{};
    request.iSubItem = column;
    request.pszText = wide.data();
    SendMessageW(control, LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&request));
}

LPARAM CListView::Data(int item) const
{
    LVITEMW request{};
    request.mask = LVIF_PARAM;
    request.iItem = item;
    if (!SendMessageW(control, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&request)))
        return 0;
    return request.lParam;
}

void CListView::SetData(int item, LPARAM data)
{
    LVITEMW request{};
    request.mask = LVIF_PARAM;
    request.iItem = item;
    request.lParam = data;
    SendMessageW(control, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&request));
}

int CListView::StateImage(int item) const
{
    const UINT state = ListView_GetItemState(control, item, LVIS_STATEIMAGEMASK);
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
}

void CListView::SetStateImage(int item, int image)
{
    ListView_SetItemState(control, item, INDEXTOSTATEIMAGEMASK(image), LVIS_STATEIMAGEMASK);
}

int CListView::StateImageSize() const
{
    HIMAGELIST images = ListView_GetImageList(control, LVSIL_STATE);
    int width = 0;
    int height = 0;
    if (images == nullptr || !ImageList_GetIconSize(images, &width, &height))
        return 0;
    return width;
}

int CListView::AppendStateImage(HICON icon)
{
    HIMAGELIST images = ListView_GetImageList(control, LVSIL_STATE);
    if (images == nullptr || icon == nullptr)
        return 0;
    const int index = ImageList_AddIcon(images, icon);
    return index < 0 ? 0 : index + 1;
}

void CListView::EnsureVisible(int item)
{
    ListView_EnsureVisible(control, item, FALSE);
}

int CListView::Selected() const
{
    return ListView_GetNextItem(control, -1, LVNI_SELECTED);
}

void CListView::Select(int item)
{
    ListView_SetItemState(control, item, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
}

int CComboBox::Count() const
{
    return static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
}

std::string CComboBox::Text(int index) const
{
    const LRESULT length = SendMessageW(control, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length <= 0)
        return std::string();
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(control, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == CB_ERR)
        return std::string();
    buffer.resize(static_cast<size_t>(copied));
    return Narrow(buffer);
}

std::vector<std::string> CComboBox::Texts() const
{
    std::vector<std::string> texts;
    const int count = Count();
    for (int i = 0; i < count; ++i)
        texts.push_back(Text(i));
    return texts;
}

int CComboBox::Add(const std::string& text)
{
    return static_cast<int>(
        SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(text).c_str())));
}

void CComboBox::Delete(int index)
{
    SendMessageW(control, CB_DELETESTRING, index, 0);
}

int CComboBox::FindExact(const std::string& text) const
{
    const int count = Count();
    for (int i = 0; i < count; ++i)
        if (Text(i) == text)
            return i;
    return -1;
}

int CComboBox::Selected() const
{
    return static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
}

void CComboBox::Select(int index)
{
    SendMessageW(control, CB_SETCURSEL, index, 0);
}

bool CComboBox::IsDroppedDown() const
{
    return SendMessageW(control, CB_GETDROPPEDSTATE, 0, 0) != FALSE;
}
