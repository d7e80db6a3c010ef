// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Iso10816.h"

namespace analysis {

ZoneBoundaries zoneBoundaries(MachineGroup group, Foundation foundation)
{
    const bool rigid = foundation == Foundation::Rigid;
    if (group == MachineGroup::Group2) return rigid ? ZoneBoundaries{1.4, 2.8, 4.5} : ZoneBoundaries{2.3, 4.5, 7.1};
    return rigid ? ZoneBoundaries{2.3, 4.5, 7.1} : ZoneBoundaries{3.5, 7.1, 11.0};
}

Zone zoneFor(double velocityRms, MachineGroup group, Foundation foundation)
{
    const ZoneBoundaries b = zoneBoundaries(group, foundation);
    if (velocityRms < b.ab) return Zone::A;
    if (velocityRms < b.bc) return Zone::B;
    if (velocityRms < b.cd) return Zone::C;
    return Zone::D;
}

std::string_view zoneName(Zone zone)
{
    switch (zone) {
    case Zone::A: return "A";
    case Zone::B: return "B";
    case Zone::C: return "C";
    case Zone::D: return "D";
    }
    return {};
}

std::string_view zoneMeaning(Zone zone)
{
    switch (zone) {
    case Zone::A: return "newly commissioned";
    case Zone::B: return "unrestricted long-term operation";
    case Zone::C: return "restricted operation";
    case Zone::D: return "damage may occur";
    }
    return {};
}

Rgb zoneColour(Zone zone)
{
    switch (zone) {
    case Zone::A: return {0x2e, 0xa0, 0x43};
    case Zone::B: return {0x9a, 0xcd, 0x32};
    case Zone::C: return {0xff, 0xa5, 0x00};
    case Zone::D: return {0xd9, 0x22, 0x1c};
    }
    return {};
}

} // namespace analysis
