#include "block_pump.h"

#include "platform.h"

#include <functional>
#include <system_error>
#include <thread>

BlockPump::BlockPump(BlockConverter& converter, std::size_t blockSize)
    : converter(converter), blockSize(blockSize), outputRoom(converter.outputRoom(blockSize))
{
    // Left uninitialised: a small file touches only the pages it needs.
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        inputs[slot] = std::make_unique_for_overwrite<char[]>(blockSize);
        outputs[slot] = std::make_unique_for_overwrite<char[]>(outputRoom);
    }
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
    const std::ptrdiff_t count = input.read(inputs[0].get(), blockSize, error);
    if (count < 0)
        return {PumpResult::Failure::reading, error};
    // A short first block is all there is of a file (or what a pipe has so
    // far); a second thread would cost more to start than it could save.
    PumpResult result;
    if (static_cast<std::size_t>(count) == blockSize && runOverlapped(input, output, result))
        return result;
    return runPlainly(input, output, static_cast<std::size_t>(count));
}

PumpResult BlockPump::runPlainly(InputSource& input, int output, std::size_t size)
{
    unsigned error = 0;
    for (;;) {
        if (size == 0) {
            if (!platform::writeFile(output, outputs[0].get(), converter.finish(outputs[0].get(), outputRoom), error))
                return {PumpResult::Failure::writing, error};
            return {};
        }
        for (std::size_t done = 0; done < size;) {
            const BlockStep step = converter.convert(inputs[0].get() + done, size - done, outputs[0].get(), outputRoom);
            if (!platform::writeFile(output, outputs[0].get(), step.produced, error))
                return {PumpResult::Failure::writing, error};
            done += step.consumed;
        }
        const std::ptrdiff_t count = input.read(inputs[0].get(), blockSize, error);
        if (count < 0)
            return {PumpResult::Failure::reading, error};
        size = static_cast<std::size_t>(count);
    }
}

bool BlockPump::runOverlapped(InputSource& input, int output, PumpResult& result)
{
    inputSizes[0] = blockSize;
    blocksRead = 1;
    std::thread mover;
    try {
        mover = std::thread(&BlockPump::moveBlocks, this, std::ref(input), output);
    } catch (const std::system_error&) {
        blocksRead = 0;
        return false;
    }

    bool failed = false;
    for (;;) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] {
            return blocksTaken < blocksRead || inputEnded || writeFailure.failure != PumpResult::Failure::none;
        });
        // Output already converted goes out before a failed read is reported;
        // a failed write ends everything at once.
        if (writeFailure.failure != PumpResult::Failure::none || blocksTaken == blocksRead) {
            failed = writeFailure.failure != PumpResult::Failure::none ||
                     readFailure.failure != PumpResult::Failure::none;
            break;
        }
        const std::size_t inputSlot = blocksTaken % slotCount;
        const std::size_t size = inputSizes[inputSlot];
        lock.unlock();
        for (std::size_t done = 0; done < size && !failed;) {
            const std::size_t outputSlot = takeOutputSlot();
            failed = outputSlot == slotCount;
            if (failed)
                break;
            const BlockStep step =
                converter.convert(inputs[inputSlot].get() + done, size - done, outputs[outputSlot].get(), outputRoom);
            giveOutputSlot(outputSlot, step.produced);
            done += step.consumed;
        }
        if (failed)
            break;
        lock.lock();
        ++blocksTaken;
        changed.notify_all();
    }
    if (!failed) {
        const std::size_t outputSlot = takeOutputSlot();
        if (outputSlot != slotCount)
            giveOutputSlot(outputSlot, converter.finish(outputs[outputSlot].get(), outputRoom));
    }
    {
        const std::lock_guard lock(mutex);
        outputsEnded = true;
        changed.notify_all();
    }
    mover.join();
    // Every block a failed write came from was read before any read failed.
    result = writeFailure.failure != PumpResult::Failure::none ? writeFailure : readFailure;
    return true;
}

std::size_t BlockPump::takeOutputSlot()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] {
        return outputsGiven - outputsWritten < slotCount || writeFailure.failure != PumpResult::Failure::none;
    });
    if (writeFailure.failure != PumpResult::Failure::none)
        return slotCount;
    return outputsGiven % slotCount;
}

void BlockPump::giveOutputSlot(std::size_t slot, std::size_t size)
{
    const std::lock_guard lock(mutex);
    outputSizes[slot] = size;
    ++outputsGiven;
    changed.notify_all();
}

void BlockPump::moveBlocks(InputSource& input, int output)
{
    std::unique_lock lock(mutex);
    const auto canRead = [this] { return !inputEnded && blocksRead - blocksTaken < slotCount; };
    for (;;) {
        changed.wait(lock, [&] { return outputsWritten < outputsGiven || canRead() || outputsEnded; });
        unsigned error = 0;
        // Writing first frees a slot the converter may be waiting for.
        if (outputsWritten < outputsGiven) {
            const std::size_t slot = outputsWritten % slotCount;
            const std::size_t size = outputSizes[slot];
            lock.unlock();
            const bool written = platform::writeFile(output, outputs[slot].get(), size, error);
            lock.lock();
            if (!written) {
                writeFailure = {PumpResult::Failure::writing, error};
                changed.notify_all();
                return;
            }
            ++outputsWritten;
        } else if (canRead()) {
            const std::size_t slot = blocksRead % slotCount;
            lock.unlock();
            const std::ptrdiff_t count = input.read(inputs[slot].get(), blockSize, error);
            lock.lock();
            if (count < 0)
                readFailure = {PumpResult::Failure::reading, error};
            if (count <= 0) {
                inputEnded = true;
            } else {
                inputSizes[slot] = static_cast<std::size_t>(count);
                ++blocksRead;
            }
        } else {
            return;
        }
        changed.notify_all();
    }
}
