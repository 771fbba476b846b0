// Heap accounting for the unit tests: every test program replaces the global operator
// new and delete with counting ones, so a test can see whether something leaked or
// was freed.
#pragma once

#include <cstddef>

// Heap blocks allocated through operator new and not yet freed.
long LiveAllocations();

// Whether `block` is among the last 256 blocks freed since ForgetFreedBlocks().
bool WasFreed(const void* block);
void ForgetFreedBlocks();

// Makes every allocation of at least `bytes` throw std::bad_alloc; 0 turns it off.
void FailAllocationsFrom(std::size_t bytes);
