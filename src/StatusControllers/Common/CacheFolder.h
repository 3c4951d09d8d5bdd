// The cache folder shared by the daemon, the status window and the filter.
//
// Both folders are world-writable (0777) so that every user's status window
// can leave request files in them. A folder that exists is left unchanged.
#pragma once

// Makes sure "/Library/Caches/Orvane" and its "QZ-M480" folder exist.
void CheckAndMake_CacheFolder();

// Makes sure "/Library/Caches/Orvane/QZ-M480" exists.
void CheckAndMake_CacheSubFolder();
