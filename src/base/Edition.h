// The two shipped builds of the library.
#ifndef TIDEWIRE_BASE_EDITION_H
#define TIDEWIRE_BASE_EDITION_H

namespace tidewire {

// The legacy edition serves older hosts: seven exports, no type 870, a stop that does not
// wait, and fewer looks at the running flag while the module is set up and between sends. The
// edition is a value the service is built with, so both can be tested side by side.
enum class Edition { Current, Legacy };

}  // namespace tidewire

#endif
