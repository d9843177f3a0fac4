#!/bin/sh
# Remakes renders.tsv: the FNV-1a 64 hash of every listed song rendered by
# `tamboril render --checksum` at each of the six Frequency choices, with the
# default LoopCount (2), FadeoutTime (5000 ms) and levels (0).
#
#   tests/player/golden/make_goldens.sh BUILD_DIR [SHARED_DIR]
#
# Run it only when a change of sound is intended, and say why in the commit.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tool="$1/tamboril"
shared="${2:-$here/../../../../shared}"
out="$here/renders.tsv"

songs="songs/song_coral_ascent.gym.zip
songs/song_neon_harbor_gymx_zlib.gym
songs/probe_ch3_special_mode.gym
songs/probe_csm_mode.gym
songs/probe_dac_pan.gym
songs/probe_dac_rates_2k-24k.gym
songs/probe_env_release_rates_0-15.gym
songs/probe_fm_alg4_sustained.gym
songs/probe_fm_feedback_0-7.gym
songs/probe_lfo_speeds_0-7_pms7_ams3.gym
songs/probe_loop_frame_1.gym
songs/probe_loop_region_no_marker.gym
songs/probe_mix_everything_full_volume.gym
songs/probe_prescaler_2d_2e_2f.gym
songs/probe_psg_attenuation_sweeps.gym
songs/probe_psg_noise_modes.gym
songs/probe_psg_tone_range.gym
songs/probe_timer_reset_bits_midframe.gym
corpus/real/arrowflash_source_of_evilness.gym
corpus/real/batman_music02.gym
corpus/real/lionking_hakuna_matata.gym
corpus/real/sforce2_003_town.gym
corpus/real/sforce2_015_sad_theme_1.gym
corpus/real/sforce2_027_goddess_mitula.gym
corpus/real/thunderforce4_stage4.gym
corpus/vgm/sonic2emerald.vgm
corpus/vgm/sonic1.vgm
corpus/vgm/city_lights_act_2.vgm
corpus/vgm/fatality.vgm"

printf 'song\tfrequency\tfnv1a64\n' > "$out"
for song in $songs; do
    for frequency in 55467:FM 48000 44100 24000 22050 11025; do
        hash=$("$tool" render --quiet --checksum --frequency "$frequency" "$shared/$song")
        printf '%s\t%s\t%s\n' "$song" "$frequency" "$hash" >> "$out"
    done
done
