#pragma once

namespace quarn {

class ClassInfo;

// Declares a witness property: a reference to a Node ("witness0:signal") that reads and writes
// output port `port` (0..7) of the object through GetPortValue and SetPortValue, port bits
// included. The behaviour nodes and the signal receiver keep their targets this way.
void AddWitnessProperty(ClassInfo* classInfo, const char* declaration, int port);

// "witness0:signal" .. "witness<count-1>:signal" on ports 0 .. count-1, in that order.
void AddWitnessProperties(ClassInfo* classInfo, int count);

} // namespace quarn
