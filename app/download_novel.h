// download_novel: the download of one novel, run when DownloadButton is pressed.
// It runs on the main thread inside the dialog procedure and returns when the
// download has ended.
#pragma once

#include "platform/os.h"

void download_novel(platform::Window window);

// True while a download reads its table of contents, before any chapter is
// fetched: the fetches then run on the main thread and keep the dialog
// answering while they wait.
bool download_reads_contents();
