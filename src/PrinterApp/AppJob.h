// Printing a job: PAPPL's raster callbacks on the filter's own image path.
//
// Each page's lines are gathered into the page buffer exactly as the filter
// reads a raster page, and the page goes through the filter's printer object
// (settings commands, colour processing, sheets of one or two panels, plane
// packets), so a page printed here gives the command stream the filter gives
// for the same raster and settings. Packets are held until a sheet is
// complete and then written whole: a job that fails before its first sheet
// sends nothing, and a cancelled job stops between sheets.
#pragma once

#include <pappl/pappl.h>

namespace qzm::app {

bool _StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool _StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                unsigned page);
bool _WriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                unsigned y, const unsigned char* line);
bool _EndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
              unsigned page);
bool _EndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace qzm::app
