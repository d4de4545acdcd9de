// Fetching the pending packages from the chosen mirror, with the status line,
// the progress bar and cancel.
#pragma once

#include "upd/engine/update_session.h"

// The block shared by the packages of a run: allocated by the download,
// released by the write step.
void ReleasePackageBlock(UpdateSession& session);

void PrepareMirror(const char* mirror, UpdateSession& session);
void DownloadPackages(UpdateSession& session);
bool FetchPackage(UpdateSession& session, const char* name, unsigned char* block, int i);
bool ReceiveWithProgress(UpdateSession& session, const char* request, unsigned char* block,
                         int capacity, int i);

// The bar position for `received` body bytes of an announced `length`:
// a percentage computed in single precision, rounded half to even.
int BarPosition(int received, int length);
