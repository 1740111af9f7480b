#!/usr/bin/python3
"""pymodbus's Modbus TCP server (python3-pymodbus 3.0) as a foreign slave on a network
line: one unit at address 247 with a detector's holding registers, on 127.0.0.1:PORT,
framed as Modbus TCP (--framer socket: a gateway) or as RTU frames over TCP (--framer
rtu: a serial device server with the slave behind it). Prints "LISTENING PORT" once
it accepts; ends on SIGTERM."""

import argparse
import asyncio
import logging
import socket

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.server import StartAsyncTcpServer

parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--framer", choices=["rtu", "socket"], required=True)
args = parser.parse_args()
logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
# Type 0x10, address 247, speed code 4 (9600 bit/s), then zeros.
store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, [0x10, 247, 4] + [0] * 13),
                           zero_mode=True)
context = ModbusServerContext(slaves={247: store}, single=False)
framer = ModbusRtuFramer if args.framer == "rtu" else ModbusSocketFramer


async def main():
    server = asyncio.ensure_future(StartAsyncTcpServer(context=context, framer=framer,
                                                       address=("127.0.0.1", args.port)))
    while True:  # "LISTENING" once a connection would be taken
        await asyncio.sleep(0.05)
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", args.port)) == 0:
                break
    print("LISTENING", args.port, flush=True)
    await server


asyncio.run(main())
