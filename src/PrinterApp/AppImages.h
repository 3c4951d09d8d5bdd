// JPEG and PNG documents, decoded whole before anything is printed.
//
// A picture that is cut short or corrupt must end its job with an error, not
// print grey where its data ended: each image is read completely with its
// library's checked reader first (a JPEG with any decoder warning counts as
// damaged) and only then laid out on the page by PAPPL's image filter.
#pragma once

#include <pappl/pappl.h>

namespace qzm::app {

// The largest picture accepted: 8-bit RGB of this many bytes (over 60
// photos of the largest size at 600 dpi).
inline constexpr unsigned long long kMaxImageBytes = 1ull << 30;

// PAPPL's filter callbacks for "image/png" and "image/jpeg".
bool _FilterPng(pappl_job_t* job, pappl_device_t* device, void* data);
bool _FilterJpeg(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace qzm::app
