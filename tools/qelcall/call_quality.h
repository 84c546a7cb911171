// An estimate of a call's quality as voice monitors give it: the transmission rating R
// of the ITU-T G.107 E-model and the mean opinion score derived from it, reduced (as
// ITU-T G.113 and common VoIP practice do for a packet network) to the two inputs a
// call shows: packet loss, through the codec's effective equipment impairment, and the
// one-way mouth-to-ear delay, through the delay impairment. Every other input of the
// model keeps its default value (G.107, 7.7), which alone rates a call R = 93.2.
#pragma once

namespace qelcall::quality {

// G.107 with all inputs at their defaults: Ro - Is - Id + A.
constexpr double kDefaultR = 93.2;

// The codec's figures. Opus custom mode has no entry in the tables of G.113; this
// mode (CELT, 64 kbit/s, 32 kHz, its own concealment of lost frames) is rated as the
// 64 kbit/s codec of those tables with concealment: G.711 with packet-loss
// concealment, Ie = 0 and Bpl = 25.1 (G.113 Appendix I, Table I.3), with random loss
// (BurstR = 1).
constexpr double kIe = 0.0;
constexpr double kBpl = 25.1;
constexpr double kBurstR = 1.0;

// Idd of G.107 (7.4): 0 up to 100 ms of absolute one-way delay, then rising.
double delayImpairment(double oneWayMs) noexcept;
// Ie,eff of G.107 (7.5) for `lossPercent` % of packets lost.
double equipmentImpairment(double lossPercent) noexcept;
// R from the loss and the one-way delay; a negative delay is one not known, and
// counts as no delay impairment.
double rFactor(double lossPercent, double oneWayMs) noexcept;
// MOS (conversational quality, estimated) from R: G.107 Annex B, 1 to 4.5.
double mos(double r) noexcept;

}  // namespace qelcall::quality
