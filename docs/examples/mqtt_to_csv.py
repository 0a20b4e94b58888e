#!/usr/bin/python3
"""Writes the samples that qiro7-cli publishes to an MQTT broker into a CSV file, each once.

qiro7-cli delivers every sample at least once: after a broker or network outage a sample may
come twice. A sample is known by its run id and its sequence number within the run, so a repeat
is dropped here. The subscription is persistent (QoS 1, a fixed client id, no clean session):
samples published while this script is not running wait on the broker for it.

    python3 mqtt_to_csv.py HOST PORT PREFIX OUTPUT.csv [--count N] [--client-id ID]

PREFIX is the topic prefix (qiro7/<serial number> unless qiro7-cli was given another). Each line
of the CSV file: the UTC time of arrival at the instrument's computer, the serial number, the run
id, the sequence number, and the instrument's three texts (irradiance mW/cm², integral
irradiance mJ/cm², peak irradiance mW/cm²). Needs Debian's python3-paho-mqtt.
"""
import argparse
import csv
import json

import paho.mqtt.client as mqtt


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("prefix")
    parser.add_argument("output")
    parser.add_argument("--count", type=int, default=0, help="stop after this many samples")
    parser.add_argument("--client-id", default="qiro7-mqtt-to-csv")
    args = parser.parse_args()

    seen = set()  # (run id, sequence number): a repeat after a reconnect is dropped
    with open(args.output, "a", newline="") as output:
        writer = csv.writer(output, lineterminator="\r\n")

        def on_connect(client, userdata, flags, rc):
            client.subscribe(args.prefix + "/sample", qos=1)

        def on_message(client, userdata, message):
            sample = json.loads(message.payload)
            key = (sample["runId"], sample["sequence"])
            if key in seen:
                return
            seen.add(key)
            writer.writerow([sample["time"], sample["serialNumber"], sample["runId"],
                             sample["sequence"], sample["irradiance"]["text"],
                             sample["integralIrradiance"]["text"],
                             sample["peakIrradiance"]["text"]])
            output.flush()
            if args.count and len(seen) >= args.count:
                client.disconnect()

        client = mqtt.Client(client_id=args.client_id, clean_session=False)
        client.on_connect = on_connect
        client.on_message = on_message
        client.connect(args.host, args.port)
        client.loop_forever()


if __name__ == "__main__":
    main()
