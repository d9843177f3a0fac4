// Timings of the plug-in as a host sees them, through the stand-in host: how
// long the host waits for each entry point and for the first audio, what a
// real-time song costs, and how fast the plug-in renders when the output
// takes everything at once. Shared by the Google Benchmark program (native
// shell) and the Windows timing program (the real DLL under Wine).
#pragma once

#include <string>

namespace shellbench {

// Loads the plug-in and calls Init; milliseconds. Native: Init only.
double LoadAndInitMs();
// Play of `song` until its first Write reaches the output.
double PlayToFirstWriteMs(const std::string& song);
// Stop while the thread renders (the output always has room) until Stop returns.
double StopWhileRenderingMs(const std::string& song);
// SetOutputTime(ms) while playing until the output's Flush.
double SeekToFlushMs(const std::string& song, int targetMs);
// Share of one core used while `seconds` of `song` play in real time, once
// the output's buffer has been filled (0 ... 1).
double RealtimeCoreShare(const std::string& song, double seconds);
// Seconds of audio per second of wall time, playing `song` to its end with
// an output that takes every block at once.
double RenderSpeed(const std::string& song);
// The same song rendered by the player directly, without the plug-in.
double DirectRenderSpeed(const std::string& song);

// Writes a dense GYM log of about `megabytes` MiB (a DAC byte every sample
// of every frame) to a file of the system's temp folder; its path.
std::string DenseSong(int megabytes);
// The first field of `song`'s extended file information, asked of a file
// the plug-in has not seen in that state (its time of last write is moved
// on first); then a second field, which comes from the kept record.
double ExtendedInfoFirstFieldMs(const std::string& song);
double ExtendedInfoNextFieldMs(const std::string& song);

}  // namespace shellbench
