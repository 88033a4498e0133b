// SPDX-License-Identifier: Apache-2.0
package velta.sample;

/** Greets whoever runs it and shows what the launcher handed over. */
public class Sample {
    public static void main(String[] args) {
        System.out.println("Hello from " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.version") + ", started by velta-java.");
        for (int i = 0; i < args.length; i++) {
            System.out.println("  argument " + i + ": " + args[i]);
        }
        System.out.println("  sample.greeting = " + System.getProperty("sample.greeting"));
        System.out.println("  max heap = " + Runtime.getRuntime().maxMemory() / (1024 * 1024) + " MiB");
    }
}
