#include "CRVBaseEngine/CRVBlobPage.h"

#include "CRVExcept/CRVExcept.h"

#include <algorithm>
#include <cstring>

// ---- small-BLOB page ----

TCRVSmallBlobPage::TCRVSmallBlobPage(TCRVPage& page)
    : FData(page.GetPageData()), FDataSize(static_cast<std::int32_t>(page.GetPageDataSize())) {}

std::uint16_t TCRVSmallBlobPage::BlobCount() const {
    std::uint16_t count = 0;
    std::memcpy(&count, FData, sizeof(count));
    return count;
}

TCRVDiskBLOBHeader TCRVSmallBlobPage::HeaderAt(std::int32_t offset) const {
    TCRVDiskBLOBHeader header;
    std::memcpy(&header, FData + offset, sizeof(header));
    return header;
}

std::int64_t TCRVSmallBlobPage::EntrySizeAt(std::int32_t offset) const {
    if (offset + KCRVBlobHeaderSize > FDataSize)
        CRVRaise(20171);
    const TCRVDiskBLOBHeader header = HeaderAt(offset);
    const std::int64_t size = KCRVBlobHeaderSize + header.CompressedSize;
    if (header.CompressedSize < 0 || offset + size > FDataSize)
        CRVRaise(20171);
    return size;
}

std::int32_t TCRVSmallBlobPage::EndOffset() const {
    std::int32_t offset = KCRVBlobCountSize;
    for (std::uint16_t i = 0; i < BlobCount(); ++i)
        offset += static_cast<std::int32_t>(EntrySizeAt(offset));
    return offset;
}

std::optional<std::int32_t> TCRVSmallBlobPage::FindBlob(std::uint16_t blobID) const {
    std::int32_t offset = KCRVBlobCountSize;
    for (std::uint16_t i = 0; i < BlobCount(); ++i) {
        const std::int64_t size = EntrySizeAt(offset);
        if (HeaderAt(offset).BlobID == blobID)
            return offset;
        offset += static_cast<std::int32_t>(size);
    }
    return std::nullopt;
}

std::uint16_t TCRVSmallBlobPage::NewBlobID() const {
    constexpr std::uint32_t KIdCount = 65535; // ids 0 .. 65534
    std::vector<bool> used(KIdCount, false);
    std::int32_t offset = KCRVBlobCountSize;
    for (std::uint16_t i = 0; i < BlobCount(); ++i) {
        const std::int64_t size = EntrySizeAt(offset);
        const std::uint16_t id = HeaderAt(offset).BlobID;
        if (id < KIdCount)
            used[id] = true;
        offset += static_cast<std::int32_t>(size);
    }
    for (std::uint32_t k = 0; k < KIdCount; ++k) {
        const std::uint32_t id = (BlobCount() + k) % KIdCount;
        if (!used[id])
            return static_cast<std::uint16_t>(id);
    }
    CRVRaise(20172);
}

std::uint16_t TCRVSmallBlobPage::AddBlob(const TCRVDiskBLOBHeader& header, std::span<const std::uint8_t> data,
                                         std::int32_t indexRoom) {
    const std::int32_t offset = EndOffset();
    const auto size = static_cast<std::int64_t>(data.size());
    if (offset + KCRVBlobHeaderSize + size > FDataSize)
        CRVRaise(20290, static_cast<int>(BlobCount()), offset, size, FDataSize, indexRoom);
    TCRVDiskBLOBHeader stored = header;
    stored.BlobID = NewBlobID();
    stored.CompressedSize = size;
    std::memcpy(FData + offset, &stored, sizeof(stored));
    if (!data.empty())
        std::memcpy(FData + offset + KCRVBlobHeaderSize, data.data(), data.size());
    const auto count = static_cast<std::uint16_t>(BlobCount() + 1);
    std::memcpy(FData, &count, sizeof(count));
    return stored.BlobID;
}

std::int32_t TCRVSmallBlobPage::RemoveBlobAt(std::int32_t offset) {
    const std::int32_t end = EndOffset();
    const auto size = static_cast<std::int32_t>(EntrySizeAt(offset));
    std::memmove(FData + offset, FData + offset + size, static_cast<std::size_t>(end - offset - size));
    std::memset(FData + end - size, 0, static_cast<std::size_t>(size));
    const auto count = static_cast<std::uint16_t>(BlobCount() - 1);
    std::memcpy(FData, &count, sizeof(count));
    return size;
}

TCRVStoredBlob TCRVSmallBlobPage::ReadBlobAt(std::int32_t offset) const {
    EntrySizeAt(offset);
    TCRVStoredBlob blob;
    blob.Header = HeaderAt(offset);
    const std::uint8_t* data = FData + offset + KCRVBlobHeaderSize;
    blob.Data.assign(data, data + blob.Header.CompressedSize);
    return blob;
}

// ---- large BLOB ----

TCRVPinnedPage TCRVLargeBlob::NewPage() {
    TCRVPinnedPage page = LPageManager.AddPage(FSessionID, ptTableBlob);
    page->GetPageHeader()->ObjectID = FTableID;
    return page;
}

TCRVPageNo TCRVLargeBlob::Write(const TCRVDiskBLOBHeader& header, std::span<const std::uint8_t> data) {
    const std::int32_t pageDataSize = DataSize();
    TCRVPinnedPage first = NewPage();
    TCRVDiskBLOBHeader stored = header;
    stored.CompressedSize = static_cast<std::int64_t>(data.size());
    std::memcpy(first->GetPageData(), &stored, sizeof(stored));
    const TCRVPageNo firstPageNo = first->PageNo();

    // The stored bytes: offset 32 of the first page, then 0 of each further page.
    std::vector<TCRVPageNo> dataPages{firstPageNo};
    TCRVPinnedPage current = std::move(first);
    std::int32_t offset = KCRVLargeBlobDataOffset;
    std::size_t done = 0;
    while (done < data.size()) {
        if (offset == pageDataSize) {
            current = NewPage();
            dataPages.push_back(current->PageNo());
            offset = 0;
        }
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(pageDataSize - offset), data.size() - done);
        std::memcpy(current->GetPageData() + offset, data.data() + done, n);
        done += n;
        offset += static_cast<std::int32_t>(n);
    }

    // The page list: after the data when a byte is left, else on a page of its own.
    if (offset == pageDataSize) {
        current = NewPage();
        offset = 0;
    }
    TCRVPageListLink link;
    link.StartPageNo = current->PageNo();
    link.StartOffset = static_cast<std::uint16_t>(offset);
    link.ItemCount = static_cast<std::int32_t>(dataPages.size());
    const auto* list = reinterpret_cast<const std::uint8_t*>(dataPages.data());
    const std::size_t listSize = dataPages.size() * sizeof(TCRVPageNo);
    for (std::size_t written = 0; written < listSize;) {
        if (offset == pageDataSize) {
            TCRVPinnedPage next = NewPage();
            current->GetPageHeader()->NextPageNo = next->PageNo();
            current = std::move(next);
            offset = 0;
        }
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(pageDataSize - offset), listSize - written);
        std::memcpy(current->GetPageData() + offset, list + written, n);
        written += n;
        offset += static_cast<std::int32_t>(n);
    }
    current.Release();

    TCRVPinnedPage firstAgain = LPageManager.GetPage(FSessionID, firstPageNo, true, ptTableBlob);
    std::memcpy(firstAgain->GetPageData() + KCRVPageListLinkOffset, &link, sizeof(link));
    firstAgain->SetIsDirty(true);
    return firstPageNo;
}

TCRVLargeBlob::TLayout TCRVLargeBlob::ReadLayout(TCRVPageNo firstPageNo) {
    const std::int64_t pageDataSize = DataSize();
    TLayout layout;
    {
        TCRVPinnedPage first = LPageManager.GetPage(FSessionID, firstPageNo, true, ptTableBlob);
        std::memcpy(&layout.Header, first->GetPageData(), sizeof(layout.Header));
        std::memcpy(&layout.Link, first->GetPageData() + KCRVPageListLinkOffset, sizeof(layout.Link));
    }
    const std::int64_t size = layout.Header.CompressedSize;
    const std::int64_t firstRoom = pageDataSize - KCRVLargeBlobDataOffset;
    const std::int64_t needed =
        size <= firstRoom ? 1 : 1 + (size - firstRoom + pageDataSize - 1) / pageDataSize;
    if (size < 0 || layout.Link.ItemCount != needed || layout.Link.StartOffset >= pageDataSize)
        CRVRaise(20171);

    std::vector<std::uint8_t> list(static_cast<std::size_t>(needed) * sizeof(TCRVPageNo));
    TCRVPageNo listPageNo = layout.Link.StartPageNo;
    std::int64_t offset = layout.Link.StartOffset;
    for (std::size_t read = 0; read < list.size();) {
        if (listPageNo == KCRVNoPage || layout.ListPages.size() > list.size())
            CRVRaise(20171);
        TCRVPinnedPage page = LPageManager.GetPage(FSessionID, listPageNo, true, ptTableBlob);
        layout.ListPages.push_back(listPageNo);
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(pageDataSize - offset), list.size() - read);
        std::memcpy(list.data() + read, page->GetPageData() + offset, n);
        read += n;
        offset = 0;
        listPageNo = page->GetPageHeader()->NextPageNo;
    }
    layout.DataPages.resize(static_cast<std::size_t>(needed));
    std::memcpy(layout.DataPages.data(), list.data(), list.size());
    if (layout.DataPages.front() != firstPageNo)
        CRVRaise(20171);
    return layout;
}

TCRVStoredBlob TCRVLargeBlob::Read(TCRVPageNo firstPageNo) {
    const TLayout layout = ReadLayout(firstPageNo);
    TCRVStoredBlob blob;
    blob.Header = layout.Header;
    blob.Data.resize(static_cast<std::size_t>(layout.Header.CompressedSize));
    std::size_t done = 0;
    std::int32_t offset = KCRVLargeBlobDataOffset;
    for (const TCRVPageNo pageNo : layout.DataPages) {
        TCRVPinnedPage page = LPageManager.GetPage(FSessionID, pageNo, true, ptTableBlob);
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(DataSize() - offset), blob.Data.size() - done);
        std::memcpy(blob.Data.data() + done, page->GetPageData() + offset, n);
        done += n;
        offset = 0;
    }
    return blob;
}

void TCRVLargeBlob::Delete(TCRVPageNo firstPageNo) {
    const TLayout layout = ReadLayout(firstPageNo);
    for (const TCRVPageNo pageNo : layout.DataPages)
        LPageManager.RemovePage(FSessionID, pageNo);
    for (std::size_t i = 0; i < layout.ListPages.size(); ++i)
        if (i != 0 || layout.ListPages[0] != layout.DataPages.back())
            LPageManager.RemovePage(FSessionID, layout.ListPages[i]);
}

bool TCRVLargeBlob::LooksLikeFirstPage(TCRVPageNo pageNo) {
    try {
        TCRVPinnedPage page = LPageManager.GetPage(FSessionID, pageNo, true, KCRVAnyPageType);
        TCRVDiskBLOBHeader header;
        TCRVPageListLink link;
        std::memcpy(&header, page->GetPageData(), sizeof(header));
        std::memcpy(&link, page->GetPageData() + KCRVPageListLinkOffset, sizeof(link));
        const std::int64_t pageDataSize = DataSize();
        return header.CompressedSize > (static_cast<std::int64_t>(link.ItemCount) - 2) * pageDataSize &&
               header.CompressedSize < static_cast<std::int64_t>(link.ItemCount) * pageDataSize;
    } catch (const ECRVException&) {
        return false;
    }
}
