// The CDMA families 870, 860 and 865. For now they identify themselves, check the card (870)
// and accept their initialisation commands; their message commands come in their own routes.
#pragma once

#include "ModemFamily.h"

namespace tidewire::sim {

// A CDMA module with a text-mode command set; its model text carries "199" but not
// "MODEL 199".
class Family870 : public ModemFamily {
  public:
    Family870();
};

// A CDMA module whose model text carries "MODEL 100"; set up with at$smstype and at$mtrpttype.
class Family860 : public ModemFamily {
  public:
    Family860();
};

// A CDMA module whose model text carries "MODEL 199"; it needs no set-up.
class Family865 : public ModemFamily {
  public:
    Family865();
};

}  // namespace tidewire::sim
