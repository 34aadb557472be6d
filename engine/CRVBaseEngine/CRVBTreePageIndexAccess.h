// The page-number B-tree (TCRVBTreePageIndex) seen through TCRVPageIndexAccess: the owner's
// CanAddNewItem test goes into the tree, and the walks by page number become descents to the
// page's entry followed by a step along the leaves.
#pragma once

#include "CRVBTree/CRVBTreePageIndex.h"
#include "CRVBaseEngine/CRVPageIndexAccess.h"

class TCRVBTreePageIndexAccess : public TCRVPageIndexAccess {
public:
    TCRVBTreePageIndexAccess(TCRVPageManager& pageManager, TCRVCanAddNewItem canAdd);

    TCRVPageNo RootPageNo() const override { return FIndex.RootPageNo(); }
    void CreateIndex(TCRVSessionID sessionID) override { FIndex.CreateIndex(sessionID); }
    void OpenIndex(TCRVPageNo rootPageNo) override { FIndex.OpenIndex(rootPageNo); }
    void EmptyIndex(TCRVSessionID sessionID) override { FIndex.EmptyIndex(sessionID); }
    void DropIndex(TCRVSessionID sessionID) override { FIndex.DropIndex(sessionID); }
    bool FindPageForNewItem(TCRVSessionID sessionID, std::uint16_t amount, TCRVPageNo& pageNo) override {
        return FIndex.FindPageForNewItem(sessionID, amount, pageNo);
    }
    void AddPageItem(TCRVSessionID sessionID, std::uint16_t amount, TCRVPageNo pageNo) override {
        FIndex.AddPageItem(sessionID, amount, pageNo);
    }
    void DeletePageItem(TCRVSessionID sessionID, std::uint16_t amount, std::int32_t newValue,
                        TCRVPageNo pageNo) override {
        FIndex.DeletePageItem(sessionID, amount, newValue, pageNo);
    }
    std::optional<std::uint16_t> GetPageValue(TCRVSessionID sessionID, TCRVPageNo pageNo) override;
    std::optional<TCRVTablePFSPageMapItem> GetFirst(TCRVSessionID sessionID) override;
    std::optional<TCRVTablePFSPageMapItem> GetLast(TCRVSessionID sessionID) override;
    std::optional<TCRVTablePFSPageMapItem> GetNext(TCRVSessionID sessionID, TCRVPageNo pageNo,
                                                   int missingCode) override;
    std::optional<TCRVTablePFSPageMapItem> GetPrior(TCRVSessionID sessionID, TCRVPageNo pageNo,
                                                    int missingCode) override;

    const TCRVBTreePageIndex& Index() const { return FIndex; }

private:
    // The page index with the owner's rule.
    class TOwnedIndex : public TCRVBTreePageIndex {
    public:
        TOwnedIndex(TCRVPageManager& pageManager, TCRVCanAddNewItem canAdd)
            : TCRVBTreePageIndex(pageManager), FCanAdd(std::move(canAdd)) {}
        bool CanAddNewItem(std::uint16_t value, std::uint32_t amount) const override {
            return amount <= 0xFFFF && FCanAdd(value, static_cast<std::uint16_t>(amount));
        }

    private:
        TCRVCanAddNewItem FCanAdd;
    };

    TCRVTablePFSPageMapItem ItemAt(TCRVSessionID sessionID, const TCRVKeyPath& path) const;

    TOwnedIndex FIndex;
};

// The factory the table uses: page indexes as page-number B-trees.
TCRVPageIndexFactory CRVBTreePageIndexFactory();
