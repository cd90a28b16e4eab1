// The folder mode's delete pass: after the last entry has been fetched, the remote items this
// run copied completely are deleted, folders by a walk that deletes their files, walks their
// subfolders and removes them. Each top-level item ends with "Delete " + host + ":" + path
// (progress) or "Delete denied: " + path (warning).
//
// What the pass deletes is restricted to the run's journal (folder_download.h): a file only
// when the journal holds it and its local copy is still a regular file of the journaled length,
// checked just before DELE; a folder is walked (and removed) only when the journal holds it as
// mirrored. A top-level item the run never copied (left out by the filter, never handed over,
// failed before any transfer) is neither walked nor deleted and gets no message: its failure,
// if any, was reported when it was fetched. Inside a walk, files the run did not copy stay, so
// their folder's removal fails and the item ends "Delete denied: ". Links to folders met inside
// a walk are not entered, a folder that cannot be entered is neither listed nor removed, and a
// subfolder still present after its walk is not walked again: every walk ends.
#pragma once

#include "component/run_context.h"

namespace pullwire {

// Lists the RemoteDir setting afresh (SubEntryList, no filter) and deletes its copied items.
// Failures never end the pass: each item's outcome is the error pending when its deletion
// returns; errors numbered 380 and 11101 count as success.
void DeleteAfterCopy(RunContext& run);

}  // namespace pullwire
