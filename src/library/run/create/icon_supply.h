// Where a creation run gets each icon's source and its conversion: on the run's own thread,
// or prepared ahead by helper threads and checked against the run's own choice.
#pragma once

#include <memory>

#include "library/run/create/icon_storing.h"
#include "library/run/create/source_selection.h"
#include "library/store/block_store.h"

namespace zemlo {

class IconSupply {
 public:
  virtual ~IconSupply() = default;
  virtual SelectedSource Select(int icon) = 0;
  // Converts and stores.
  virtual StoreResult Convert(int icon, const SelectedSource& source) = 0;
  // The run is done with the icon.
  virtual void Finished(int) {}
};

// The supply for a run over first .. last: helper threads prepare the icons ahead when
// store.jobs asks for more than one thread and the run has more than one icon.
std::unique_ptr<IconSupply> MakeSupply(StoreContext& store, int first, int last);

}  // namespace zemlo
