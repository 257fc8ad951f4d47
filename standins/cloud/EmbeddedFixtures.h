// The fixture files as built into the library (generated table, ended by a null name).
#pragma once

namespace cendra_standin {
struct EmbeddedFixture {
    const char* name;
    const char* text;
};
extern const EmbeddedFixture kEmbeddedFixtures[];
}  // namespace cendra_standin
