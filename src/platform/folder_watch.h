#pragma once

#include <string>

// Whether anything in one folder may have changed since the last question,
// for the price of one read that does not block: a server asks whenever new
// input has come and must not walk the file's path each time. Any doubt counts as a
// change: no watch in place yet (the first question, a folder that does not
// exist, a watch limit reached), the folder deleted or moved, events lost to
// an overflow of the kernel's queue.
class FolderWatch {
  public:
    explicit FolderWatch(std::string folder);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False only when the watch was in place since the last call and the
    // kernel reported nothing in the folder since.
    bool mayHaveChanged();

  private:
    bool drain();  // reads every pending event; true when there was any
    void dropWatch();

    std::string m_folder;
    int m_fd = -1;
    int m_watch = -1;
};
