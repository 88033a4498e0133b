// SPDX-License-Identifier: Apache-2.0
package velta.example;

/**
 * A small long-running service: says it started, then writes one line every
 * heartbeat.interval milliseconds (default 10000) to standard output, which
 * systemd hands to the journal. A first argument, when given, ends it after
 * that many beats. When it is stopped (SIGTERM from systemctl stop) its
 * shutdown hook says so.
 */
public final class Heartbeat {
    public static void main(String[] args) throws InterruptedException {
        final long interval = Long.getLong("heartbeat.interval", 10000L);
        final long beats = args.length > 0 ? Long.parseLong(args[0]) : Long.MAX_VALUE;
        Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("heartbeat: stopping")));
        System.out.println("heartbeat: started on " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.version") + ", one beat every " + interval + " ms");
        for (long beat = 1; beat <= beats; beat++) {
            Thread.sleep(interval);
            System.out.println("heartbeat: beat " + beat);
        }
    }
}
