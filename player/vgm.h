// VGM and VGZ songs: the register writes of the same two chips, each at its
// own sample of 44,100 Hz song time, as the console's rips keep them today.
// A file whose bytes start with the gzip magic is inflated first, whatever
// its name.
//
// Header (little-endian; versions 1.00-1.71 are read, later ones as 1.71;
// header bytes at or past the data read as 0):
//   00  "Vgm "                 04  end of file, from 04
//   08  version, BCD           0C  SN76489 clock (bit 31 second chip, 30 variant)
//   10  FM clock of 1.00/1.01  14  GD3 tag, from 14; 0 = none
//   1C  loop, from 1C; 0 = none
//   2C  YM2612 clock, 1.10 on (bit 31 second chip, 30 variant)
//   34  data, from 34, 1.50 on (before: data at 40)
//   7C  volume modifier: gain 2^(m/32), m from -63 (C1) to 192 (C0)
//   7E  loop base, signed      7F  loop modifier, 16ths; 0 = 16
// The header's total and loop sample counts are not read: one pass and the
// loop are what the commands say.
//
// Commands (a command cut short by the end of the data ends the song):
//   4F dd          stereo of another console's PSG: ignored
//   50 dd          SN76489 write
//   52 aa dd       YM2612 port 0 write (aa 2A: a DAC byte at this sample)
//   53 aa dd       YM2612 port 1 write
//   61 nnnn        wait n samples          62  wait 735      63  wait 882
//   66             end of the pass: back to the loop, or the song ends
//   67 66 tt ssssssss ..  data block: type 00 (YM2612 PCM, not of a second
//                  chip) is appended to the PCM bank; others are skipped
//   7n             wait n + 1
//   8n             the bank's next byte to the DAC, then wait n
//   E0 pppppppp    the bank's read position
//   90 ss tt pp cc DAC stream ss set up for chip type tt, port pp, register cc
//                  (only the YM2612's DAC, port 0 register 2A, is played)
//   91 ss dd ll bb stream data: bank dd, step ll, first byte bb
//   92 ss ffffffff stream frequency, bytes a second
//   93 ss aaaaaaaa mm llllllll  start at bank offset a (FFFFFFFF: where it
//                  is), length l counted as mm & 3 says (0: as before,
//                  1: bytes, 2: ms, 3: to the bank's end), 10 reverse, 80 loop
//   94 ss          stop (FF: every stream)
//   95 ss bbbb ff  start at data block b for its length; ff 01 loop, 10 reverse
//   30-3F 1 operand, 40-4E 51 54-5F A0-BF 2, C0-DF 3, E1-FF 4: other chips,
//   skipped; 00-2F and other bytes end the song.
#pragma once

#include <cstdint>

#include "player/formats.h"
#include "player/player.h"

// The VGM row of the format list.
extern const SongFormat vgmFormat;

// The sample rate of VGM song time.
constexpr int32_t kVgmSampleRate = 44100;
