// rastertoqzm480: the CUPS filter of the QZ-M480.
//
//   rastertoqzm480 queue job user title copies options [file]
//
// Reads CUPS raster (the file, or standard input) and writes the printer's
// command stream to standard output. The queue's PPD is named by $PPD.
#include "FilterDriver.h"

int main(int argc, char* argv[]) {
    return RunFilter(argc, argv);
}
