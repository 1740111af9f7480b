#!/usr/bin/python3
"""A Modbus-RTU slave that is not ours, for the integration tests: pymodbus's own
serial server (python3-pymodbus 3.0) on a pseudo-terminal.

pymodbus opens one pty by its path; this script relays bytes between that pty and a
second one, whose path it prints as the line "PORT /dev/pts/N" for the master (ornat)
to open. It holds only the masters of both ptys, so the master's port is held by
nobody else; while nobody has the master's port open, answers are dropped (a closed
port hears nothing). It ends when its stdin closes, or on SIGTERM/SIGINT.

  --unit N          answer requests to unit N only (default: every unit id)
  --answer-as N     put N into the unit id of every answer (another device answering)
  --registers LIST  holding registers from 0, e.g. 0x10,3,4,0,8,0,0,0
  --echo-value N    answer every write with N as the value written (an echo that differs)
  --answer-raw HEX  answer every request with these bytes and their CRC, whatever it asked
                    (a late echo of an earlier write taken for a read's answer, say)
"""

import argparse
import asyncio
import logging
import os
import select
import signal
import sys
import threading
import time
import tty

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.register_write_message import WriteSingleRegisterResponse
from pymodbus.server import StartAsyncSerialServer


def number(text):
    return int(text, 0)


def with_crc(frame):
    crc = 0xFFFF
    for byte in frame:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return frame + bytes([crc & 0xFF, crc >> 8])


def relay(slave_side, master_side, stop):
    """Copies bytes both ways until `stop` is set."""
    poller = select.poll()
    poller.register(slave_side, select.POLLIN)
    poller.register(master_side, select.POLLIN)
    while not stop.is_set():
        for fd, events in poller.poll(50):
            if fd == master_side and events & select.POLLHUP:
                # Nobody has the master's port open: wait for an open.
                time.sleep(0.005)
                continue
            if not events & select.POLLIN:
                continue
            try:
                data = os.read(fd, 4096)
            except OSError:
                continue
            if fd == slave_side:
                # An answer: it reaches the port only while someone has it open.
                check = select.poll()
                check.register(master_side, select.POLLOUT)
                ready = check.poll(0)
                if ready and not ready[0][1] & select.POLLHUP:
                    os.write(master_side, data)
            else:
                os.write(slave_side, data)


def main():
    # pymodbus logs every refused request as an error: nobody reads them here.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--unit", type=number)
    parser.add_argument("--answer-as", type=number)
    parser.add_argument("--registers", default="0x10,247,4,0,0,0,0,0")
    parser.add_argument("--echo-value", type=number)
    parser.add_argument("--answer-raw")
    args = parser.parse_args()

    # The pty pymodbus serves, and the one the master opens.
    served_master, served_slave = os.openpty()
    port_master, port_slave = os.openpty()
    for fd in (served_slave, port_slave):
        tty.setraw(fd)
    served_path = os.ttyname(served_slave)
    port_path = os.ttyname(port_slave)
    os.close(port_slave)

    registers = [number(v) for v in args.registers.split(",")]
    store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, registers), zero_mode=True)
    if args.unit is None:
        context = ModbusServerContext(slaves=store, single=True)
    else:
        context = ModbusServerContext(slaves={args.unit: store}, single=False)

    def manipulate(response):
        if args.answer_raw is not None:
            return with_crc(bytes.fromhex(args.answer_raw)), True
        if args.answer_as is not None:
            response.unit_id = args.answer_as
        if args.echo_value is not None and isinstance(response, WriteSingleRegisterResponse):
            response.value = args.echo_value
        return response, False

    stop = threading.Event()
    threading.Thread(target=relay, args=(served_master, port_master, stop), daemon=True).start()

    async def serve():
        loop = asyncio.get_running_loop()
        done = loop.create_future()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, lambda: done.done() or done.set_result(None))
        # End of stdin ends the program, as ornat-sim's console does.
        loop.add_reader(sys.stdin.fileno(),
                        lambda: (os.read(sys.stdin.fileno(), 1024) or done.done()
                                 or done.set_result(None)))
        server = asyncio.ensure_future(
            StartAsyncSerialServer(context=context, framer=ModbusRtuFramer, port=served_path,
                                   baudrate=9600, response_manipulator=manipulate))
        await asyncio.sleep(0.3)  # the server has its port open
        os.close(served_slave)
        print("PORT " + port_path, flush=True)
        await done
        server.cancel()

    asyncio.run(serve())
    stop.set()


if __name__ == "__main__":
    main()
