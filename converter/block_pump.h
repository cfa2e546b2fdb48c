#pragma once

// Moves a whole file through a block converter: reads the input in blocks,
// converts each and writes what comes out. An input longer than one block is
// read and written on a second thread while this one converts, so that the
// system's copying and the conversion run on two cores at once, unless the
// converter is one that runs faster on one thread.

#include "conversion.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

/// How a run ended: which side failed first in input order, and its error
/// number. A converter's fault (`converting`) says itself what it met.
struct PumpResult {
    enum class Failure { none, reading, writing, converting };
    Failure failure = Failure::none;
    unsigned error = 0;  // the system's error number when a side failed
};

/// Where the pump's input comes from: an open file, or bytes read out of some
/// other container (a file on a disk image).
class InputSource {
public:
    virtual ~InputSource() = default;
    /// Reads up to `size` bytes. Returns the count, 0 at the end, or -1 with `error` set.
    virtual std::ptrdiff_t read(void* data, std::size_t size, unsigned& error) = 0;
};

/// An open file as an input source.
class FileSource final : public InputSource {
public:
    explicit FileSource(int file) : file(file) {}
    std::ptrdiff_t read(void* data, std::size_t size, unsigned& error) override;

private:
    int file;
};

/// Runs one converter from an open input to an open output, in blocks.
class BlockPump {
public:
    /// Allocates every buffer a run needs, for input blocks of `blockSize`
    /// bytes. Throws std::bad_alloc when memory is short.
    BlockPump(BlockConverter& converter, std::size_t blockSize);

    /// Converts everything `input` holds into `output`, both open files, and
    /// ends with the converter's `finish`. Returns the first failure in input
    /// order; output converted before it has been written.
    PumpResult run(int input, int output);

    /// The same, reading from `input`.
    PumpResult run(InputSource& input, int output);

    /// The converter the pump runs, to ask what it met.
    const BlockConverter& conversion() const { return converter; }

private:
    // Four blocks in flight each way let the reader, the converter and the
    // writer run ahead of each other by a few blocks, which smooths out the
    // system's uneven read and write times; the memory stays within a few MiB.
    static constexpr std::size_t slotCount = 4;

    /// A `converting` failure once the converter has met a fault, else none.
    PumpResult converterFailure() const;

    /// The plain loop on this thread, starting with `size` bytes already in input slot 0.
    PumpResult runPlainly(InputSource& input, int output, std::size_t size);

    /// Converts on this thread while `moveBlocks` reads and writes on another,
    /// starting with one full block in input slot 0. Returns false, having
    /// done nothing, when no thread can be started.
    bool runOverlapped(InputSource& input, int output, PumpResult& result);

    /// The second thread: writes converted slots in order and reads ahead
    /// into free input slots, writing first, until the converter is done.
    void moveBlocks(InputSource& input, int output);

    /// Waits for a free output slot. Returns its index, or slotCount once a write has failed.
    std::size_t takeOutputSlot();

    /// Hands `size` bytes in output slot `slot` to the writer.
    void giveOutputSlot(std::size_t slot, std::size_t size);

    /// Returns once `ready()` holds: checks it in a short spin first, then
    /// sleeps until the other thread wakes it. `asleep` is the waiting
    /// thread's own flag.
    template <typename Ready>
    void await(std::atomic<bool>& asleep, Ready ready);

    /// Whether the mover has enough to do to be worth waking.
    bool moverHasWork() const;

    /// Whether the converter has enough to do to be worth waking.
    bool converterHasWork() const;

    /// Wakes the other thread if it is asleep (its flag `asleep`) and
    /// `worthWaking` says it has enough to do.
    void wake(const std::atomic<bool>& asleep, bool (BlockPump::*worthWaking)() const);

    BlockConverter& converter;
    const std::size_t blockSize;
    const std::size_t outputRoom;
    std::unique_ptr<char[]> memory;  // every slot below
    char* inputs[slotCount] = {};
    char* outputs[slotCount] = {};
    std::size_t inputSizes[slotCount] = {};
    std::size_t outputSizes[slotCount] = {};

    // Shared by the two threads. Slot n of a kind is used for its n-th block
    // modulo slotCount; each count only grows and has one thread that writes
    // it, which publishes the slot (and any failure) before the count or flag.
    std::atomic<std::uint64_t> blocksRead = 0;      // input blocks read into slots
    std::atomic<std::uint64_t> blocksTaken = 0;     // input blocks converted and released
    std::atomic<std::uint64_t> outputsGiven = 0;    // output slots handed to the writer
    std::atomic<std::uint64_t> outputsWritten = 0;  // output slots written and released
    std::atomic<bool> inputEnded = false;           // end of input or a failed read: no more blocks
    std::atomic<bool> outputsEnded = false;         // the converter hands over nothing more
    std::atomic<bool> writeFailed = false;          // writeFailure holds a failed write
    PumpResult readFailure;
    PumpResult writeFailure;

    // Sleeping, for a thread that has waited longer than its spin: it says
    // so in its flag, so that the other thread takes the mutex and wakes it
    // only when it sleeps and the change is one it waits for.
    std::atomic<bool> converterAsleep = false;
    std::atomic<bool> converterWantsOutput = false;  // what it waits for: an output slot, or else input
    std::atomic<bool> moverAsleep = false;
    std::mutex mutex;
    std::condition_variable changed;
};
