// The copy rule of PORT_INFO: the only way the library writes a record into its list or into
// a host's array.
#pragma once

#include <linkset/port_info.h>

// Makes destination equal to source, except that the 28 reserved bytes at offset 1214 and the
// list elements behind each count keep what destination held. Counts above the capacity are
// capped. Answers destination.
PORT_INFO& CopyPortInfo(PORT_INFO& destination, const PORT_INFO& source);
