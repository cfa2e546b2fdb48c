#include "block_pump.h"

#include "platform.h"

#include <functional>
#include <system_error>
#include <thread>

BlockPump::BlockPump(BlockConverter& converter, std::size_t blockSize)
    : converter(converter), blockSize(blockSize), outputRoom(converter.outputRoom(blockSize))
{
    // One allocation for every slot, one call to the system; left
    // uninitialised, so that a small file touches only the pages it needs.
    // Each slot starts on a cache line.
    constexpr std::size_t line = 64;
    const std::size_t inputStride = (blockSize + line - 1) / line * line;
    const std::size_t outputStride = (outputRoom + line - 1) / line * line;
    memory = std::make_unique_for_overwrite<char[]>(slotCount * (inputStride + outputStride) + line);
    char* next = memory.get() + (line - reinterpret_cast<std::uintptr_t>(memory.get()) % line) % line;
    for (std::size_t slot = 0; slot < slotCount; ++slot, next += inputStride)
        inputs[slot] = next;
    for (std::size_t slot = 0; slot < slotCount; ++slot, next += outputStride)
        outputs[slot] = next;
}

std::ptrdiff_t FileSource::read(void* data, std::size_t size, unsigned& error)
{
    return platform::readFile(file, data, size, error);
}

PumpResult BlockPump::run(int input, int output)
{
    FileSource source(input);
    return run(source, output);
}

PumpResult BlockPump::run(InputSource& input, int output)
{
    unsigned error = 0;
    const std::ptrdiff_t count = input.read(inputs[0], blockSize, error);
    if (count < 0)
        return {PumpResult::Failure::reading, error};
    // A short first block is all there is of a file (or what a pipe has so
    // far); a second thread would cost more to start than it could save.
    PumpResult result;
    if (static_cast<std::size_t>(count) == blockSize && converter.overlapsCopying() &&
        runOverlapped(input, output, result))
        return result;
    return runPlainly(input, output, static_cast<std::size_t>(count));
}

PumpResult BlockPump::converterFailure() const
{
    return {converter.fault() != nullptr ? PumpResult::Failure::converting : PumpResult::Failure::none, 0};
}

PumpResult BlockPump::runPlainly(InputSource& input, int output, std::size_t size)
{
    unsigned error = 0;
    for (;;) {
        if (size == 0) {
            if (!platform::writeFile(output, outputs[0], converter.finish(outputs[0], outputRoom), error))
                return {PumpResult::Failure::writing, error};
            return converterFailure();
        }
        for (std::size_t done = 0; done < size;) {
            const BlockStep step = converter.convert(inputs[0] + done, size - done, outputs[0], outputRoom);
            if (!platform::writeFile(output, outputs[0], step.produced, error))
                return {PumpResult::Failure::writing, error};
            if (converter.fault() != nullptr)
                return converterFailure();
            done += step.consumed;
        }
        const std::ptrdiff_t count = input.read(inputs[0], blockSize, error);
        if (count < 0)
            return {PumpResult::Failure::reading, error};
        size = static_cast<std::size_t>(count);
    }
}

namespace {

// How many times a waiting thread checks before it sleeps: some 40
// microseconds where a check and its pause take 19 ns, as on the machine this
// was measured on, a few times what the other thread takes for a block's
// read, write or conversion. So the two seldom sleep while blocks flow (a
// sleep and its wake-up cost both threads system calls, and a thread woken
// waits for the scheduler), and a thread with nothing to do leaves the core
// to others soon. On 64 MiB of typical text to SEQ, 2,048 checks against 256
// took the run from 1,363 futex calls and 491 context switches to 109 and 47,
// and 9 to 11 % less wall time for 4 % more processor time.
constexpr unsigned spinChecks = 2048;

// A thread that sleeps is woken once this many slots of the kind it waits
// for are ready (outputs to write or inputs free to read into, for the
// mover; blocks read or outputs free, for the converter), not for each
// block: a wake-up costs one thread a system call and the other a trip
// through the scheduler, which take longer than copying a block. The other
// slots keep the thread that is awake busy meanwhile. Neither can sleep
// for good: a converter waits only with every input slot free to read into
// or every output slot to write, a batch for the mover; the mover sleeps
// only with nothing to write and every input slot full (or the input at its
// end), and stays awake while it has work, so whatever the converter waits
// for reaches a batch or the end before the mover sleeps.
constexpr std::uint64_t wakeBatch = 2;

// Tells the processor that this thread is spinning, so that it spends less
// power and gives the core to another hardware thread.
inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

template <typename Ready>
void BlockPump::await(std::atomic<bool>& asleep, Ready ready)
{
    for (unsigned check = 0; check < spinChecks; ++check) {
        if (ready())
            return;
        relax();
    }
    std::unique_lock lock(mutex);
    asleep.store(true);
    // A change made after the flag went up finds it and wakes this thread;
    // one made before is seen here. So the wait can miss none.
    changed.wait(lock, ready);
    asleep.store(false);
}

bool BlockPump::moverHasWork() const
{
    return outputsGiven.load() - outputsWritten.load() >= wakeBatch || outputsEnded.load() ||
           (!inputEnded.load() && slotCount - (blocksRead.load() - blocksTaken.load()) >= wakeBatch);
}

bool BlockPump::converterHasWork() const
{
    if (writeFailed.load())
        return true;
    if (converterWantsOutput.load())
        return slotCount - (outputsGiven.load() - outputsWritten.load()) >= wakeBatch;
    return inputEnded.load() || blocksRead.load() - blocksTaken.load() >= wakeBatch;
}

void BlockPump::wake(const std::atomic<bool>& asleep, bool (BlockPump::*worthWaking)() const)
{
    // The flag first: once it is seen up, the sleeper's last look (and what
    // it waits for) came before, and the state read after it is current.
    if (asleep.load() && (this->*worthWaking)()) {
        // Taking the mutex orders this change after the sleeper's last look.
        { const std::lock_guard lock(mutex); }
        changed.notify_one();
    }
}

bool BlockPump::runOverlapped(InputSource& input, int output, PumpResult& result)
{
    inputSizes[0] = blockSize;
    blocksRead.store(1);
    std::thread mover;
    try {
        mover = std::thread(&BlockPump::moveBlocks, this, std::ref(input), output);
    } catch (const std::system_error&) {
        blocksRead.store(0);
        return false;
    }

    bool failed = false;
    std::uint64_t taken = 0;  // this thread's own count, mirrored in blocksTaken
    for (;;) {
        converterWantsOutput.store(false);
        await(converterAsleep, [&] { return taken < blocksRead.load() || inputEnded.load() || writeFailed.load(); });
        // Output already converted goes out before a failed read is reported;
        // a failed write ends everything at once. The count is looked at
        // again after the flag, since a last block may come just before it.
        if (writeFailed.load()) {
            failed = true;
            break;
        }
        if (taken == blocksRead.load()) {
            failed = readFailure.failure != PumpResult::Failure::none;
            break;
        }
        const std::size_t inputSlot = taken % slotCount;
        const std::size_t size = inputSizes[inputSlot];
        for (std::size_t done = 0; done < size && !failed;) {
            const std::size_t outputSlot = takeOutputSlot();
            failed = outputSlot == slotCount;
            if (failed)
                break;
            const BlockStep step =
                converter.convert(inputs[inputSlot] + done, size - done, outputs[outputSlot], outputRoom);
            giveOutputSlot(outputSlot, step.produced);
            done += step.consumed;
            failed = converter.fault() != nullptr;
        }
        if (failed)
            break;
        blocksTaken.store(++taken);
        wake(moverAsleep, &BlockPump::moverHasWork);
    }
    if (!failed) {
        const std::size_t outputSlot = takeOutputSlot();
        if (outputSlot != slotCount)
            giveOutputSlot(outputSlot, converter.finish(outputs[outputSlot], outputRoom));
    }
    outputsEnded.store(true);
    wake(moverAsleep, &BlockPump::moverHasWork);
    mover.join();
    // Every block a failed write came from was read before any read failed,
    // and so was the block where the converter met a fault.
    result = writeFailed.load() ? writeFailure : converter.fault() != nullptr ? converterFailure() : readFailure;
    return true;
}

std::size_t BlockPump::takeOutputSlot()
{
    const std::uint64_t given = outputsGiven.load();
    converterWantsOutput.store(true);
    await(converterAsleep, [&] { return given - outputsWritten.load() < slotCount || writeFailed.load(); });
    if (writeFailed.load())
        return slotCount;
    return given % slotCount;
}

void BlockPump::giveOutputSlot(std::size_t slot, std::size_t size)
{
    outputSizes[slot] = size;
    outputsGiven.store(outputsGiven.load() + 1);
    wake(moverAsleep, &BlockPump::moverHasWork);
}

void BlockPump::moveBlocks(InputSource& input, int output)
{
    std::uint64_t read = blocksRead.load();
    std::uint64_t written = 0;
    bool ended = false;
    const auto canRead = [&] { return !ended && read - blocksTaken.load() < slotCount; };
    for (;;) {
        // Writing first frees a slot the converter may be waiting for. The
        // flag is looked at before the count, so a last slot given just
        // before the converter ended is still written.
        const bool converterDone = outputsEnded.load();
        unsigned error = 0;
        if (written < outputsGiven.load()) {
            const std::size_t slot = written % slotCount;
            if (!platform::writeFile(output, outputs[slot], outputSizes[slot], error)) {
                writeFailure = {PumpResult::Failure::writing, error};
                writeFailed.store(true);
                wake(converterAsleep, &BlockPump::converterHasWork);
                return;
            }
            outputsWritten.store(++written);
        } else if (canRead()) {
            const std::size_t slot = read % slotCount;
            const std::ptrdiff_t count = input.read(inputs[slot], blockSize, error);
            if (count < 0)
                readFailure = {PumpResult::Failure::reading, error};
            if (count <= 0) {
                ended = true;
                inputEnded.store(true);
            } else {
                inputSizes[slot] = static_cast<std::size_t>(count);
                blocksRead.store(++read);
            }
        } else if (converterDone) {
            return;
        } else {
            await(moverAsleep, [this] { return moverHasWork(); });
            continue;
        }
        wake(converterAsleep, &BlockPump::converterHasWork);
    }
}
