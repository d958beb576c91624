#pragma once

namespace qgrad {

// Keeps the memory a survey frees for the next one. A million-row survey
// lives in blocks of tens to hundreds of megabytes; the C library hands such
// blocks back to the system when they are freed, and the next survey then
// faults every page in afresh, which costs a good part of an opening. Kept,
// the process stays at the size of its largest survey. Call first thing in main, before any thread is started.
void KeepFreedMemoryForReuse();

// Gives the system back the pages of freed blocks, kept or not: a step
// whose passing buffers the next step cannot reuse (they lie in holes its
// blocks do not fit) would otherwise add them to the process's peak.
void GiveBackFreedMemory();

// Bytes this process can still take at the most: the machine's memory, or
// what its address-space limit leaves, whichever is less.
unsigned long long MemoryLeft();

}  // namespace qgrad
