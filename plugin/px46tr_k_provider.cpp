#include "px46tr_k_provider.h"

#include "driver/px46tr_k.h"

PX46TR_KProvider::~PX46TR_KProvider() = default;

SMDSPDevice* PX46TR_KProvider::create() const { return new PX46TR_K(); }
