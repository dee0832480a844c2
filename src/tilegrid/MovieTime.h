#pragma once

#include <string>

namespace qm {

// The playing time a tile shows: whole seconds, "m:ss" below an hour and
// "h:mm:ss" from an hour on ("0:03", "1:15", "1:00:00").
std::string formatMovieTime(double seconds);

}  // namespace qm
