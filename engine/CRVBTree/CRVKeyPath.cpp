#include "CRVBTree/CRVKeyPath.h"

#include "CRVExcept/CRVExcept.h"

void TCRVKeyPath::Push(TCRVPageNo pageNo, int entryNo, int entryCount) {
    if (Count >= KCRVMaxKeyPathLevels)
        CRVRaise(20024);
    Items[static_cast<std::size_t>(Count)] = TCRVKeyPathItem{pageNo, entryNo, entryCount};
    ++Count;
    ItemNo = Count - 1;
}

int CompareKeyPaths(const TCRVKeyPath& a, const TCRVKeyPath& b) {
    if (a.Count != b.Count)
        CRVRaise(20051);
    for (int level = 0; level < a.Count; ++level) {
        if (a[level].PageNo != b[level].PageNo)
            CRVRaise(20052);
        if (a[level].EntryNo != b[level].EntryNo)
            return a[level].EntryNo < b[level].EntryNo ? -1 : 1;
    }
    return 0;
}
