// The thumbnail lists of the cloud dialogs: a list view in icon view over an image list of
// 120 x 120 thumbnails, filled from a folder search or from a given vector of UploadItem. Row r of
// a list and element r of the vector filled with it describe the same file. Called on the UI
// thread; the two listings load and scale the files on worker threads meanwhile and return when
// every row is in (the list and the image list are touched by the calling thread only). GDI+ must
// be running (the program starts it once, tests in their main); nothing here starts or stops it.
#pragma once
#include "cloud/Upload.h"
#include "framework/Framework.h"
#include <string>
#include <vector>

constexpr int kThumbnailSize = 120;

// An image list that remembers where its placeholder (the picture of a file that cannot be shown)
// stands, so that it is added at most once.
class ThumbnailImageList : public CImageList {
public:
    int placeholder = -1;
};

// Creates the image list (120 x 120, device colours, no mask, 4 then 4 more) and gives it to the
// list as its normal image list. The control is told not to destroy it: the dialog object owns it
// and outlives the window.
void SetUpThumbnailList(CListCtrl& list, ThumbnailImageList& images);

// The 120 x 120 thumbnail of the image file (squeezed to the square, over white), added to the
// list; its index there. A file that cannot be loaded or scaled gets the placeholder (white, a
// one-pixel grey frame), and so does a picture too large to decode (CImage::Load refuses it
// unread). -1 only when the list takes neither.
int AddThumbnail(ThumbnailImageList& images, const std::wstring& path);

// The placeholder's index, added on first use.
int PlaceholderThumbnail(ThumbnailImageList& images);

// Lists what the search pattern matches, in the search's order: "." and "..", folders and (with
// skipReference) every path holding "ReferenceImages" (case-sensitive) are left out. Row n gets
// the file name and its thumbnail; element n of the result is {n, full path, file name}. A row
// the control refuses gets no element, so rows and elements stay paired.
std::vector<UploadItem> ListImageFolder(CListCtrl& list, ThumbnailImageList& images, const std::wstring& pattern,
                                        bool skipReference);

// Lists the items in their order, each inserted at row 0: the list ends in reverse order.
void ListItems(CListCtrl& list, ThumbnailImageList& images, const std::vector<UploadItem>& items);

// The last selected row (walking LVNI_SELECTED from the start), 0 when none is selected.
int LastSelectedRow(const CListCtrl& list);

// Whether row is an index of items.
inline bool IsRowOf(int row, const std::vector<UploadItem>& items) {
    return row >= 0 && static_cast<size_t>(row) < items.size();
}
