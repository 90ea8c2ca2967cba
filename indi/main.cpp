// indi_kovrel_ccd: libindidriver's main serves the one device below.
#include "KovrelCcd.h"

#include <memory>

static std::unique_ptr<KovrelCcd> kovrelCcd(new KovrelCcd());
