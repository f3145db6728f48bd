// Statistics of a plane of camera samples (the display's scale limits) and a
// stopwatch on the high-resolution counter with UTC time stamps (acquisition
// and file-write times, STRTIME/ENDTIME of the FITS headers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelu {

// Mean, population standard deviation and extremes of `count` samples, in
// one pass over them. The sums are exact whole numbers (a float sum stops
// growing exactly long before a 512 x 512 plane is done): the only roundings
// are the final division, square root and conversion to float. The
// deviation is taken about the mean as a float, as DataStdev takes it. For
// count 0: mean and deviation 0, extremes 65535 and 0.
struct PlaneStatistics {
    float mean = 0.0f;
    float stdev = 0.0f;
    uint16_t min = 65535;
    uint16_t max = 0;
};
PlaneStatistics Statistics(const uint16_t* data, size_t count);

// The same figures one at a time (each a pass of its own).
// Extremes of `count` samples. For count 0 the outputs are 65535 and 0.
void GetMinMax(const uint16_t* data, size_t count, uint16_t* min, uint16_t* max);
// Mean of width x height samples.
float DataMean(int width, int height, const uint16_t* data);
// Population standard deviation of the same samples about `mean`.
float DataStdev(int width, int height, const uint16_t* data, float mean);

// "2010.08.12-03:15:02" for the current UTC time.
std::string TimeStamp();

// Write the current UTC time stamp into `text` and store the counter in
// gliStart (start) or gliEnd (end) of the instrument state.
void marktime_start(std::string& text);
void marktime_end(std::string& text);
// Seconds between the two marks, by gliFreq; 0 while gliFreq is not known.
float time_difference();

}  // namespace pelu
