// The CUPS print queue of an attached printer.
//
// A queue belongs to a printer when its device URI uses the printer's backend
// and ends in "serial=" and the printer's escaped serial number. When no such
// queue exists, one is created with lpadmin: the base queue, or the numbered
// queue at the first free number.
#pragma once

#include <cups/cups.h>

#include <string>
#include <vector>

// What one queue step looks for: the serial, and whether a queue of it was
// found.
struct PrintQueueMatch {
    const char* serial = nullptr;
    bool found = false;
};

// Destination callback of cupsEnumDests: sets found when the destination is
// the queue of match->serial. Always 1, so every destination is seen.
int enum_cb(void* match, unsigned flags, cups_dest_t* dest);

// Makes sure a queue exists for the printer with this escaped serial. True
// when one was recognised or lpadmin was run (whatever its outcome), and for
// the empty serial, which gets no queue; false only when the local printer
// list is not available, so that the caller tries again later. Steps of several printers run one after the other, so two
// printers never pick the same queue number.
bool CheckAndMake_PrintQueue(const char* serial);

// The lpadmin arguments (after the program name) that define the base queue
// (number 0) or the numbered queue for serial.
std::vector<std::string> _QueueArguments(int number, const std::string& serial);

// The number of the new queue: the first position, counting from 1, whose
// number in ascending order differs from it, or the count + 1.
int _FirstFreeQueueNumber(std::vector<int> numbers);
