import struct, sys, zmq
sub = zmq.Context().socket(zmq.SUB)
sub.connect(sys.argv[1]); sub.setsockopt(zmq.SUBSCRIBE, sys.argv[2].encode() if len(sys.argv) > 2 else b"")
while True:
    topic, head, packets = sub.recv_multipart()
    seq, ns, n = struct.unpack(">QqI", head[:20]); at = 0
    while at + 12 <= len(packets):
        address, length, mode, rid = struct.unpack(">IIHB", packets[at:at + 11]); size = length & 0xFF
        print(seq, topic.decode(), f"id 0x{rid:02x} level {length >> 29}", "polling" if length >> 28 & 1 else "interrupt",
              packets[at + 12:at + 12 + size].hex()); at += 12 + size
